// settings: the settings store and its current section, read and written key by key.
#include "settings.h"

#include "hs_regshared.h"
#include "inifile.h"

using namespace hsreg;

void setinisection(const QString &section)
{
    inisection = section;
}

void resetinisection()
{
    inisection = StandardSection;
}

void iniwritestring(const QString &key, const QString &value)
{
    if (inifile) inifile->writeString(inisection, key, value);
}

void iniwritebool(const QString &key, bool value)
{
    if (inifile) inifile->writeBool(inisection, key, value);
}

void iniwriteint(const QString &key, std::int32_t value)
{
    if (inifile) inifile->writeInteger(inisection, key, value);
}

QString inireadstring(const QString &key, QString &value)
{
    value = inifile ? inifile->readString(inisection, key, QString()) : QString();
    return value;
}

QString inireadstring(const QString &key)
{
    QString value;
    return inireadstring(key, value);
}

bool inireadbool(const QString &key)
{
    return inifile && inifile->readBool(inisection, key, false);
}

std::int32_t inireadint(const QString &key)
{
    return inifile ? inifile->readInteger(inisection, key, 0) : 0;
}
