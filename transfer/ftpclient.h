// ftpclient: the FTP client behind the transfer window, a thin blocking wrapper of libcurl that
// offers connect and log in, the remote size, get into a file, put from a file and disconnect.
#pragma once

#include "files.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <stdexcept>

typedef void CURL;
typedef void CURLM;

// A failed client call; the text names what failed and never holds the password.
class FtpError : public std::runtime_error {
  public:
    explicit FtpError(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }
};

class FtpClient : public QObject {
    Q_OBJECT

  public:
    // How long a dead or stalled server may hold the program before the call fails.
    struct Limits {
        long connectSeconds = 20;  // connecting and logging in
        long responseSeconds = 30; // any one reply on the control connection
        long stallSeconds = 30;    // a data transfer that moves no byte, or a mere trickle
    };
    // Fewer bytes than this in one stall period is a trickle, and fails as a stall does. The
    // slowest modem still in the standards (300 bit/s) moves some 900 bytes in 30 s.
    static constexpr std::int64_t trickleBytes = 512;
    static Limits limits();
    static void setLimits(const Limits &limits);
    // The steady clock, in milliseconds, that a stall is measured on; tests put one of their
    // own in its place, and an empty one brings the steady clock back.
    static void setClock(std::function<std::int64_t()> milliseconds);

    explicit FtpClient(QObject *parent = nullptr);
    ~FtpClient() override;

    QString host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    QString username() const { return m_username; }
    void setUsername(const QString &username) { m_username = username; }
    void setPassword(const QString &password) { m_password = password; }
    int port() const { return m_port; }
    void setPort(int port) { m_port = port; }

    // Opens the control connection and logs in. A failure leaves the client disconnected.
    void connectToServer();
    bool isConnected() const { return m_connected; }
    // The remote file's size in bytes ("SIZE" under the binary type), -1 when the server answers
    // with anything but a size. A failure of the connection itself throws.
    std::int64_t size(const QString &remoteName);
    // Replaces localName with the remote file's bytes ("RETR", binary type). With an announced
    // size (from size()), exactly that many bytes must arrive, else the call fails; without
    // one, the size the server gives at the retrieve counts. While the bytes arrive the file is
    // its owner's alone; what mode it is to have in the end is the caller's to give.
    void get(const QString &remoteName, const QString &localName, std::int64_t announced = -1);
    // As above, into a file that the caller has opened for writing and closes itself.
    void get(const QString &remoteName, platform::FileHandle file, std::int64_t announced);
    // Creates or replaces the remote file with the local file's bytes ("STOR", binary type).
    void put(const QString &localName, const QString &remoteName);
    // Sends "QUIT" and closes the connection; nothing happens when there is none.
    void disconnectFromServer();

    // The path part of a request: every segment percent-encoded, so each name stays one name.
    static QByteArray encodedPath(const QString &remoteName);
    // The text with what a server or libcurl could echo of a login masked: the rest of a "PASS"
    // command's line, and the password of a "user:password@" in a URL. Nothing else changes.
    static QString withoutCredentials(QString text);

  signals:
    void connected();
    void disconnected();
    // The number of bytes moved so far in the running data transfer.
    void work(std::int64_t count);

  private:
    struct Transfer;
    // One request on the session; a failure ends the session and throws, except the result
    // `tolerated`, which is returned.
    int perform(const QString &what, const QString &remoteName, Transfer &transfer,
                int tolerated = 0);
    // The steps of a request, in their order.
    void openHandle(const QString &what);
    void setSessionOptions(void *url);
    void setTransferOptions(Transfer &transfer);
    int drive();
    int waitForLibcurl(int &idle);
    int outcome(const QString &what, const Transfer &transfer, int result, int tolerated);
    // The request with the local file open, closed again whatever happens.
    void moveFile(const QString &what, const QString &remoteName, const QString &localName,
                  Transfer &transfer);
    void retrieve(const QString &remoteName, const QString &localName, platform::FileHandle file,
                  std::int64_t announced);
    void endSession();
    [[noreturn]] void fail(const QString &what, const QString &detail);

    friend struct FtpCallbacks;
    // The running transfer's byte count, raised as a work event when it has grown.
    void moved(std::int64_t count);

    CURL *m_curl = nullptr;
    // The session's open connection lives in this handle's cache between requests.
    CURLM *m_multi = nullptr;
    bool m_connected = false;
    QString m_host;
    QString m_username;
    QString m_password;
    int m_port = 21;
    std::int64_t m_reported = 0;
    char m_error[256] = {};
};
