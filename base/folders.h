// folders: the program folders: their lookup through the settings, and the folder tree.
#pragma once

#include <QString>

void kalvenorpath(const QString &name, QString &path);
QString kalvenorpath(const QString &name);
void setfolder(const QString &name, const QString &path);
void mkdirsafe(const QString &path, bool ownerOnly = false);
void makefoldertree();
// Makes and records what the tree lacks, and leaves alone what it has.
void completefoldertree();
void logpath(QString &path);
void binpath(QString &path);
