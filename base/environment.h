// environment: what the process finds around it (environment variables, its own path, the
// application-data folder, the form of path names), and the two hooks, replaced by tests, that
// the platform layer reports and tells the time through.
#pragma once

#include <QChar>
#include <QDateTime>
#include <QString>

#include <functional>

namespace platform {

QString env(const QString &name); // empty when unset
QString programFilePath();
// The user's application-data folder, without a final separator: "APPDATA" when set, else
// $XDG_DATA_HOME, else ~/.local/share.
QString appDataFolder();
QChar separator();
// "data\tfm" -> "data/tfm" on Linux; unchanged on Windows.
QString nativeName(const QString &name);

// Where the platform layer's own notices go: the log, once the base library has set it up;
// nowhere before.
void notice(const QString &line);
void setNoticeSink(std::function<void(const QString &)> sink);

// The clock behind every time stamp, replaceable by tests.
QDateTime now();
void setClock(std::function<QDateTime()> clock);

} // namespace platform
