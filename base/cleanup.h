// cleanup: temporary files removed: the program's own, the system's and the printer queues.
#pragma once

#include <QString>

void deletetempfiles(bool alsoSystem);
void cleanfolder(const QString &folder);
void deletefolderfiles(const QString &folder);
