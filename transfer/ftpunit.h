// ftpunit: the transfer window TFTPform with its one instance FTPform, which moves one named
// file to or from the configured server, and, for its callers, the FTP settings it loads.
#pragma once

#include "ftpsettings.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class FtpClient;
namespace Ui {
class TFTPform;
}
namespace placement {
class Download;
}

// The size of a local file in bytes; -1 when it cannot be opened for reading and writing, or
// when it holds 2 GiB or more.
std::int32_t FilStorrelse(const QString &name);

// ---- The transfer window ----

class TFTPform : public QWidget {
    Q_OBJECT

  public:
    explicit TFTPform(QWidget *parent = nullptr);
    ~TFTPform() override;

    void SendFil(const QString &Filnavn);
    void HentFil(const QString &Filnavn);

    void FormShow();
    void IdFTP1Connected();
    void IdFTP1Disconnected();
    void IdFTP1Work(std::int64_t count);

    FtpClient *IdFTP1 = nullptr;

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    // The host, user, password and port of the settings, put into the client.
    void fillClient();
    QString remoteName(const QString &filePart) const;
    // Whether the local file of an upload can be sent; its size becomes the progress range.
    bool sendable(const QString &Filnavn);
    void store(const QString &Filnavn, const QString &remote);
    // Connects and asks the remote size; false when the download stops there.
    bool askSize(const QString &remote, std::int64_t &size);
    // Into a fresh temporary file; a failure is logged and gives 500.
    void retrieve(placement::Download &download, const QString &remote, std::int64_t size);

    std::unique_ptr<Ui::TFTPform> m_ui;
};

extern TFTPform *FTPform;
