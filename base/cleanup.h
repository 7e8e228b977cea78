// cleanup: temporary files removed: the program's own, the system's and the printer queues.
#pragma once

#include <QString>

#include <functional>

void deletetempfiles(bool alsoSystem);
void cleanfolder(const QString &folder);
void deletefolderfiles(const QString &folder);
// For tests: called for each folder that a cleanup empties, once its entries are listed and
// before any of them is removed.
void setFolderListedHook(std::function<void(const QString &folder)> hook);
