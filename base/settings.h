// settings: the settings store and its current section, read and written key by key, and the
// write-back of a settings document with the reporting of its failures.
#pragma once

#include <QString>

#include <cstdint>

class IniDocument;

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

namespace hsreg {

// For the unit's own files: the write-back moments and what they report.
QString readOnlyLine(const QString &file);
bool writeBack(const IniDocument &doc);
// The one report of a settings file that would grow past what the program reads back.
void reportTooLarge(const IniDocument &doc);
QString unreadableLine(const IniDocument &doc);
void reportUnreadable(const IniDocument &doc);

} // namespace hsreg
