// settings: the settings store and its current section, read and written key by key, and the
// write-back of a settings document with the reporting of its failures.
#include "settings.h"

#include "hs_regshared.h"
#include "inifile.h"
#include "platform.h"
#include "textfil.h"

using namespace hsreg;

void setinisection(const QString &section) { inisection = section; }

void resetinisection() { inisection = StandardSection; }

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

namespace hsreg {

QString readOnlyLine(const QString &file)
{
    return QStringLiteral("ADVARSEL: ") + file +
           QStringLiteral(" er skrivebeskyttet og vil ikke bli lagret.");
}

// A settings file that cannot be written never stops the program: its settings stay in memory.
bool writeBack(const IniDocument &doc)
{
    const int err = doc.updateFile(settingsFileMode(doc.fileName()));
    if (err == 0) {
        failingFiles.remove(doc.fileName());
        return true;
    }
    // A read-only file is the owner's choice, not a failure, and it stays one fact however
    // often the file comes up: the main file has the shut-down's warning, a per-user file one
    // warning when it is first met.
    if (err == platform::ErrAccessDenied && platform::isReadOnly(doc.fileName())) {
        if (doc.fileName() != ininame && !readOnlyWarned.contains(doc.fileName())) {
            readOnlyWarned.append(doc.fileName());
            writelog(readOnlyLine(doc.fileName()));
        }
        return false;
    }
    // A document that could not be read refuses to be written with its read error, which may be
    // the same number; that refusal is no write-back grown too large.
    if (err == platform::ErrFileTooLarge && !doc.readError()) {
        reportTooLarge(doc);
        return false;
    }
    if (failingFiles.contains(doc.fileName())) return false;
    // Joined, not .arg(): a file name may itself hold "%1" or "%2".
    if (writelog(QStringLiteral("FEIL: Kan ikke lagre innstillingsfilen ") + doc.fileName() +
                 QStringLiteral(" (feilnr. ") + QString::number(err) + u')') == 0)
        failingFiles.insert(doc.fileName());
    return false;
}

void reportTooLarge(const IniDocument &doc)
{
    if (failingFiles.contains(doc.fileName())) return;
    failingFiles.insert(doc.fileName());
    const QString text =
        QStringLiteral("Innstillingsfilen ") + doc.fileName() +
        QStringLiteral(" blir ikke lagret: den ville blitt større enn ") +
        QString::number(platform::MaxTextFileSize) +
        QStringLiteral(" byte, det største programmet leser. Filen beholdes som den var, og "
                       "endringene i innstillingene gjelder bare til programmet avsluttes.");
    platform::ui().message(QStringLiteral("FEIL"), text, platform::Icon::Error);
    writelog(QStringLiteral("FEIL: ") + text);
}

QString unreadableLine(const IniDocument &doc)
{
    return QStringLiteral("FEIL: Kan ikke lese innstillingsfilen ") + doc.fileName() +
           QStringLiteral(" (feilnr. ") + QString::number(doc.readError()) + u')';
}

void reportUnreadable(const IniDocument &doc)
{
    if (doc.readError()) writelog(unreadableLine(doc));
}

} // namespace hsreg
