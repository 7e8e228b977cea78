// Felles: small helpers shared by every program of the base library: file size, extensions,
// trimming, the shell, password scrambling and the date-time text of logs and settings.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// -1 on any failure: missing, a folder, no write access, held by another program.
std::int32_t getfilesize(const QString &name);
// Cuts at the first "." of the whole name, folders included.
void newext(const QString &name, const QString &extension, QString &result);
QString newext(const QString &name, const QString &extension);
// Removes blanks (character 32 only) at both ends.
void trimspaces(const QString &text, QString &result);
QString trimspaces(const QString &text);
// CR and LF become blanks, so that a text written as one line of a file stays one line when
// the file is read back; so does every other character below the blank, unless keepControls.
QString oneline(const QString &text, bool keepControls = false);
void shellopen(const QString &file, const QString &parameters, const QString &folder);

QString encodestr(const QString &text);
QString decodestr(const QString &text);

// The user's short date, a blank and the long time without time zone; the time is left out
// at 00:00:00.
QString datetimetext(const QDateTime &when);
// datetimetext of the platform clock.
QString datetimetext();
