// hs_reg: the settings store and its current section, the per-user settings file, program
// folders, window placement, user and machine facts, temporary-file cleanup, and the base
// library's start-up and shut-down.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class QWidget;
class IniDocument;

// ---- Settings store ----

extern IniDocument *inifile;
extern QString ininame;
extern QString etcpath;
extern QString inisection;

void setinisection(const QString &section);
void resetinisection();
void iniwritestring(const QString &key, const QString &value);
void iniwritebool(const QString &key, bool value);
void iniwriteint(const QString &key, std::int32_t value);
QString inireadstring(const QString &key, QString &value);
QString inireadstring(const QString &key);
bool inireadbool(const QString &key);
std::int32_t inireadint(const QString &key);
void openuserini();
void closeuserini();

// ---- Program folders ----

void kalvenorpath(const QString &name, QString &path);
QString kalvenorpath(const QString &name);
void setfolder(const QString &name, const QString &path);
void mkdirsafe(const QString &path, bool ownerOnly = false);
void makefoldertree();
void logpath(QString &path);
void binpath(QString &path);

// ---- Window placement ----

int savewindowpos(QWidget *window, const QString &name, const QString &extra);
int loadwindowpos(QWidget *window, const QString &name, QString &extra);

// ---- User and machine information ----

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

// ---- Temporary-file cleanup ----

void deletetempfiles(bool alsoSystem);
void cleanfolder(const QString &folder);
void deletefolderfiles(const QString &folder);

// ---- Start-up and shut-down ----

// The unit's own start-up (command line, settings, folders, flags, log) and shut-down.
void hs_regInitialization(const QStringList &arguments);
void hs_regFinalization();
