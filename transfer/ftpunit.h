// ftpunit: the FTP settings that every transfer loads, and the transfer window TFTPform with its
// one instance FTPform, which moves one named file to or from the configured server.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class FtpClient;
namespace Ui {
class TFTPform;
}

// ---- FTP settings ----

extern QString FTPServer;
extern QString FTPMappe;
extern QString FTPBruker;
extern QString FTPPassord;
extern std::int32_t FTPPort;
extern std::int32_t FTPFeilNr;

// The defaults of a server that nobody has configured.
extern const QString DefaultFTPServer;
extern const QString DefaultFTPBruker;
extern const QString DefaultFTPPassord;

void LesFTPOppsett();
void SkrivStandardFTPOppsett();
// Makes the variables hold settings a transfer can use; asks the user once when no server is
// configured.
void HentFTPOppsett();
// Returns the unit's variables to their first state.
void ftpunitInitialization();

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

    std::unique_ptr<Ui::TFTPform> m_ui;
};

extern TFTPform *FTPform;
