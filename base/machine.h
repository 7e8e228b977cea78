// machine: facts about the user and the machine: the user name and its check, the logon
// name, computer, domain, address and system folders, and their line in the log.
#pragma once

#include <QString>

extern QString userparam;
extern QString ipparam;
extern QString cacheduser;

QString getusername();
// Whether a name can be a user name: it names the per-user settings file, so it must be a
// plain file name on every system (no folder part, no "..", no control character, none of
// the characters or device names that Windows refuses, not so long that the file's name
// cannot be held).
bool validusername(const QString &name);
QString getlogonuser();
QString getcomputername();
QString getdomain();
QString getipaddress();
QString getspooldir();
QString gettempdir();
void logloginfo();
