// settings: the settings store and its current section, read and written key by key.
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
