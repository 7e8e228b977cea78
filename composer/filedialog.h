// filedialog: the file dialogs of the main window behind one seam, so that tests can answer
// them without a dialog ever blocking.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

struct FileDialogRequest {
    bool save = false;
    QString folder;
    QString fileName;
    QStringList filters;
    QString defaultSuffix;
};

class FileDialog {
  public:
    // Shows a file dialog; returns the chosen path, or "" after a cancel. A saved name typed
    // without an extension gets the default one; an existing file is replaced only after the
    // user has agreed to it.
    static QString choose(QWidget *parent, const FileDialogRequest &request);

    // Tests: the next dialog is not shown and answers name ("" for a cancel).
    static void setNextFileName(const QString &name);
    // The request of the latest dialog, shown or answered.
    static FileDialogRequest lastRequest();
};
