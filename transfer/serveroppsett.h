// serveroppsett: the server-settings dialog, which edits one kind of server's connection
// settings in the main settings file's section "SERVER-SETTING-" + kind.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TServerOppsettForm;
}

class TServerOppsettForm : public QDialog {
    Q_OBJECT

  public:
    explicit TServerOppsettForm(QWidget *parent = nullptr);
    ~TServerOppsettForm() override;

    void FormShow();
    void FormClose();
    void passordDblClick();
    // Whether the dialog may close: false, with a message and the fields kept, for a password
    // that the settings file could not give back as typed.
    bool FormCloseQuery();

    QString servertype() const { return Servertype; }
    void setServertype(const QString &kind) { Servertype = kind; }

    // Every way of closing (the title bar, Escape, the program) ends here.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    std::unique_ptr<Ui::TServerOppsettForm> m_ui;
    QString Servertype;
};

extern TServerOppsettForm *ServerOppsettForm;

// Shows ServerOppsettForm modally for the kind's section, captioned `caption`; returns when
// it has been closed.
void VisServerOppsett(const QString &caption, const QString &kind);

// The kind's port when its field is left empty: an exact, case-sensitive match; else empty.
QString defaultPort(const QString &kind);
// Whether a stored text comes back unchanged from the settings file.
bool keptBySettings(const QString &stored);
