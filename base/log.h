// log: the run's log lines kept in memory and counted, and the log file they are loaded from at
// the start and saved to at the end.
#pragma once

#include "platform.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

// An I/O failure raised to the caller, as ClearLog does with its close.
class EInOutError : public std::runtime_error {
  public:
    explicit EInOutError(int code);
    int code;
};

extern QStringList loglines;
extern platform::Encoding logencoding; // the encoding loglines was last loaded in
extern QString logfile;
extern QString logfolder;
extern bool logtofile;
extern bool verbose;
extern int errorcount;
extern int warningcount;
extern int hintcount;

int writelog(const QString &message);
void ClearLog();
void logfilename(QString &path);
// Replaces loglines with the file's lines, remembering its encoding; a missing file leaves
// loglines as it is. A file that exists but cannot be read (held by another instance, say) is
// never replaced: this run's lines go to a file of their own beside it, which the log names.
void loadloglines();
// Where the shut-down saves loglines: logfile, or the file beside it after a failed load.
QString logsavefile();

// The unit's start-up and shut-down; both also return every variable to its first state. The
// shut-down replaces the log file whole, never in part, one instance at a time; where another
// instance has saved the file since it was loaded here, its lines are kept and this run's follow
// them. A log that would pass what a start reads back is set aside under its name and ".1",
// in place of an older one, and this run's lines begin a new one.
void textfilInitialization();
void textfilFinalization();

// Test seam: the shut-down's save waits for another instance's, or has taken in what that one
// saved and is about to save its own.
enum class LogSaveStep { WaitingForLock, Merged };
void setLogSaveSeam(std::function<void(LogSaveStep)> seam);
