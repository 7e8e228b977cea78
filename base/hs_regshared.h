// hs_regshared: what the files of hs_reg share: the unit's fixed names and all its state
// (with the reset of it), and the folder helpers.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class IniDocument;

namespace hsreg {

extern const QString IniFileName;
extern const QString IniVersion;
extern const QString StandardSection;
extern const QString FoldersSection;

extern IniDocument *mainDocument;
extern bool mainOnDisk;

QString withSeparator(const QString &path);
bool ownerOnly(const QString &folderName);
QString baseFolder();
// The mode a settings file is written with.
int settingsFileMode(const QString &file);

extern QSet<QString> failingFiles;
extern QStringList readOnlyWarned;

// Every variable of the unit back as it was before the start-up.
void resetUnitState();

} // namespace hsreg
