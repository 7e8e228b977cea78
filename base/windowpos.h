// windowpos: window placement, saved to and restored from the per-user settings file.
#pragma once

#include <QString>

class QWidget;

int savewindowpos(QWidget *window, const QString &name, const QString &extra);
int loadwindowpos(QWidget *window, const QString &name, QString &extra);
// The frame of the program's own windows: a title with its menu, minimise and close, and no
// maximise, since their layouts are of fixed size.
void setOwnWindowFlags(QWidget *window);
