// filedialog: the file dialogs of the main window behind one seam.
#include "filedialog.h"

#include <QFileDialog>
#include <QFileInfo>

#include <utility>

namespace {

std::optional<QString> &nextName()
{
    static std::optional<QString> name;
    return name;
}

FileDialogRequest &latest()
{
    static FileDialogRequest request;
    return request;
}

QString withDefaultSuffix(const QString &name, const FileDialogRequest &request)
{
    if (name.isEmpty() || !request.save || request.defaultSuffix.isEmpty()) return name;
    if (!QFileInfo(name).suffix().isEmpty()) return name;
    return name + u'.' + request.defaultSuffix;
}

} // namespace

QString FileDialog::choose(QWidget *parent, const FileDialogRequest &request)
{
    latest() = request;
    if (std::optional<QString> answer = std::exchange(nextName(), std::nullopt))
        return withDefaultSuffix(*answer, request);

    QFileDialog dialog(parent);
    dialog.setObjectName(request.save ? QStringLiteral("SaveDialog")
                                      : QStringLiteral("OpenDialog"));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The confirmation before replacing an existing file stays on, as the desktop's own
    // dialogs have it.
    dialog.setDirectory(request.folder);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().constFirst();
}

void FileDialog::setNextFileName(const QString &name) { nextName() = name; }

FileDialogRequest FileDialog::lastRequest() { return latest(); }
