// codepage: the ANSI code page (Windows-1252 on Linux) and the upper case of names.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform {

// ---- ANSI code page (Windows-1252 on Linux) ----

// Characters the code page lacks become "?".
QByteArray toAnsi(QStringView text);
QString fromAnsi(QByteArrayView bytes);
QChar ansiChar(unsigned char byte);
bool ansiCanHold(QStringView text);

// ---- Upper case ----

// Each UTF-16 code unit on its own, as Windows' CharUpperBuffW does: letters beyond A-Z are
// raised too ("æ" becomes "Æ"), the result never depends on the user's locale (a Turkish "i"
// is still "I") and is as long as the text ("ß" stays "ß"), so names found by it stay found.
QString upperCase(const QString &text);

} // namespace platform
