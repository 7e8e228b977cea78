// ftpclient: the FTP client behind the transfer window, on libcurl.
#include "ftpclient.h"

#include "platform.h"

#include <curl/curl.h>

#include <QUrl>

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>

namespace {

FtpClient::Limits &currentLimits()
{
    static FtpClient::Limits limits;
    return limits;
}

std::function<std::int64_t()> &stallClock()
{
    static std::function<std::int64_t()> c;
    return c;
}

std::int64_t milliseconds()
{
    if (stallClock()) return stallClock()();
    using namespace std::chrono;
    return duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch())
        .count();
}

// libcurl is started once per process, before the first handle.
void globalInit()
{
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

bool breaksCommand(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

} // namespace

FtpError::FtpError(const QString &message) : std::runtime_error(message.toStdString()) {}

// What one request moves, and anything a callback could not hand back through libcurl.
struct FtpClient::Transfer {
    enum Kind { Login, Size, Get, Put } kind = Login;
    platform::FileHandle file = platform::NoFile;
    int fileError = 0;
    // A download stops with an error when more bytes come than this; -1 for no limit.
    std::int64_t limit = -1;
    std::int64_t written = 0;
    bool tooMuch = false;
    // A download's size as the caller was told it; -1 when unknown.
    std::int64_t announced = -1;
    // A get or put fails once its byte count has stood still this long; 0 for no limit.
    std::int64_t stallMs = 0;
    std::int64_t lastCount = -1;
    std::int64_t lastMove = 0;
    bool stalled = false;
    std::exception_ptr error;
};

struct FtpCallbacks {
    // What libcurl makes of a size query's answer, in the form of headers, goes nowhere.
    static size_t discard(char *, size_t size, size_t count, void *) { return size * count; }

    static size_t write(char *data, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<FtpClient::Transfer *>(user);
        const size_t bytes = size * count;
        if (bytes > size_t(INT_MAX)) return 0;
        if (t->limit >= 0 && std::int64_t(bytes) > t->limit - t->written) {
            t->tooMuch = true;
            return 0;
        }
        t->written += std::int64_t(bytes);
        t->fileError = platform::writeFile(t->file, data, int(bytes));
        return t->fileError ? 0 : bytes;
    }

    static size_t read(char *data, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<FtpClient::Transfer *>(user);
        int got = 0;
        const int room = int(std::min(size * count, size_t(INT_MAX)));
        t->fileError = platform::readFile(t->file, data, room, got);
        return t->fileError ? CURL_READFUNC_ABORT : size_t(got);
    }

    struct Progress {
        FtpClient *client;
        FtpClient::Transfer *transfer;
    };

    static int progress(void *user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow)
    {
        auto *p = static_cast<Progress *>(user);
        FtpClient::Transfer *t = p->transfer;
        const std::int64_t count = t->kind == FtpClient::Transfer::Put ? ulnow : dlnow;
        // libcurl's own low-speed check goes by the average of the last five seconds, so it
        // fires some six seconds after the last byte; the limit counts from the last byte here.
        if (t->stallMs > 0) {
            const std::int64_t now = milliseconds();
            if (count != t->lastCount) {
                t->lastCount = count;
                t->lastMove = now;
            } else if (now - t->lastMove >= t->stallMs) {
                t->stalled = true;
                return 1;
            }
        }
        // An error of a work handler cannot cross libcurl; it stops the transfer and is raised
        // once the call has returned.
        try {
            p->client->moved(count);
            return 0;
        } catch (...) {
            p->transfer->error = std::current_exception();
            return 1;
        }
    }
};

FtpClient::Limits FtpClient::limits() { return currentLimits(); }

void FtpClient::setClock(std::function<std::int64_t()> c) { stallClock() = std::move(c); }

void FtpClient::setLimits(const Limits &limits) { currentLimits() = limits; }

FtpClient::FtpClient(QObject *parent) : QObject(parent) {}

FtpClient::~FtpClient()
{
    if (m_curl) curl_easy_cleanup(m_curl);
}

QByteArray FtpClient::encodedPath(const QString &remoteName)
{
    QByteArray path;
    const QStringList segments = remoteName.split(u'/');
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (i) path += '/';
        path += QUrl::toPercentEncoding(segments[i]);
    }
    return path;
}

QString FtpClient::withoutPassword(QString text) const
{
    if (!m_password.isEmpty()) text.replace(m_password, QStringLiteral("***"));
    return text;
}

void FtpClient::fail(const QString &what, const QString &detail)
{
    throw FtpError(withoutPassword(what + QStringLiteral(": ") + detail));
}

void FtpClient::moved(std::int64_t count)
{
    if (count == m_reported) return;
    m_reported = count;
    emit work(count);
}

int FtpClient::perform(const QString &what, const QString &remoteName, Transfer &transfer,
                       int tolerated)
{
    // A line break in a user name or password would end the command it is sent in.
    if (breaksCommand(m_username) || breaksCommand(m_password))
        fail(what, QStringLiteral("brukernavnet eller passordet inneholder et linjeskift"));
    if (!m_curl) {
        globalInit();
        m_curl = curl_easy_init();
    }
    // No handle: libcurl could not be loaded (its reason is on standard error) or had no memory.
    if (!m_curl) fail(what, QStringLiteral("libcurl kunne ikke startes"));
    CURL *c = m_curl;
    // A reset keeps the open connection, so every request after the login goes over it.
    curl_easy_reset(c);

    CURLU *url = curl_url();
    const QByteArray host = m_host.toUtf8();
    const QByteArray port = QByteArray::number(m_port);
    const QByteArray path = '/' + encodedPath(remoteName);
    const bool urlOk = url && !curl_url_set(url, CURLUPART_SCHEME, "ftp", 0) &&
                       !curl_url_set(url, CURLUPART_HOST, host.constData(), 0) &&
                       !curl_url_set(url, CURLUPART_PORT, port.constData(), 0) &&
                       !curl_url_set(url, CURLUPART_PATH, path.constData(), 0);
    if (!urlOk) {
        curl_url_cleanup(url);
        fail(what, QStringLiteral("servernavnet \"%1\" er ikke et vertsnavn").arg(m_host));
    }

    const Limits limits = currentLimits();
    const QByteArray user = m_username.toUtf8();
    const QByteArray password = m_password.toUtf8();
    m_error[0] = 0;
    curl_easy_setopt(c, CURLOPT_CURLU, url);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_IPRESOLVE, long(CURL_IPRESOLVE_V4));
    curl_easy_setopt(c, CURLOPT_PROXY, ""); // no proxy, whatever the environment says
    curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, m_error);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, limits.responseSeconds);
    // libcurl's own low-speed check fires some six seconds after the stall limit (see the
    // progress callback), so it never decides; it stays because without it libcurl waits up to
    // a second at the end of many a small transfer.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
    // The remote name goes to "SIZE", "RETR" and "STOR" whole, folder and all, so a folder the
    // server lacks is a missing file, not a failed connection.
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    // Bytes move unchanged both ways: no line-end rewriting, sizes that match the file.
    curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, 0L);

    if (transfer.kind == Transfer::Get || transfer.kind == Transfer::Put)
        transfer.stallMs = std::int64_t(limits.stallSeconds) * 1000;
    FtpCallbacks::Progress progress{this, &transfer};
    m_reported = 0;
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &FtpCallbacks::progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &FtpCallbacks::discard);
    switch (transfer.kind) {
    case Transfer::Login:
    case Transfer::Size:
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &FtpCallbacks::discard);
        break;
    case Transfer::Get:
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &FtpCallbacks::write);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
        // Sizes, positions and counts of the window are 32-bit; a server that announces more
        // is refused before a byte is written.
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(INT32_MAX));
        // Against a size told beforehand, libcurl would cut off the bytes beyond it and report
        // success; every byte the server sends is counted instead.
        if (transfer.announced >= 0) curl_easy_setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        break;
    case Transfer::Put: {
        std::int64_t bytes = 0;
        platform::fileSize(transfer.file, bytes);
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, &FtpCallbacks::read);
        curl_easy_setopt(c, CURLOPT_READDATA, &transfer);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(bytes));
        curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
        break;
    }
    }

    const CURLcode result = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_CURLU, nullptr);
    curl_url_cleanup(url);
    if (transfer.error) {
        endSession();
        std::rethrow_exception(transfer.error);
    }
    if (result == CURLE_OK || int(result) == tolerated) return int(result);

    QString detail = QString::fromUtf8(m_error);
    if (detail.isEmpty()) detail = QString::fromUtf8(curl_easy_strerror(result));
    if (transfer.tooMuch)
        detail = QStringLiteral("serveren sendte mer enn %1 byte").arg(transfer.limit);
    if (transfer.stalled)
        detail = QStringLiteral("ingen byte er flyttet på %1 sekunder").arg(limits.stallSeconds);
    if (transfer.fileError)
        detail += QStringLiteral(" (feil %1 i den lokale filen)").arg(transfer.fileError);
    endSession();
    fail(what, detail);
}

void FtpClient::connectToServer()
{
    Transfer login;
    login.kind = Transfer::Login;
    m_connected = false;
    perform(QStringLiteral("Kan ikke koble til %1 som bruker %2").arg(m_host, m_username),
            QString(), login);
    m_connected = true;
    emit connected();
}

std::int64_t FtpClient::size(const QString &remoteName)
{
    Transfer query;
    query.kind = Transfer::Size;
    const int result = perform(QStringLiteral("Kan ikke finne størrelsen på %1").arg(remoteName),
                               remoteName, query, CURLE_REMOTE_FILE_NOT_FOUND);
    if (result == CURLE_REMOTE_FILE_NOT_FOUND) return -1;
    curl_off_t bytes = -1;
    if (curl_easy_getinfo(m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &bytes) != CURLE_OK)
        return -1;
    return bytes;
}

void FtpClient::moveFile(const QString &what, const QString &remoteName,
                         const QString &localName, Transfer &transfer)
{
    const bool get = transfer.kind == Transfer::Get;
    const auto mode = get ? platform::OpenMode::RewritePrivate : platform::OpenMode::Read;
    // A file the caller opened stays the caller's to close.
    if (transfer.file != platform::NoFile) return void(perform(what, remoteName, transfer));
    if (const int err = platform::openFile(localName, mode, transfer.file))
        fail(what, QStringLiteral("kan ikke åpne %1 (feil %2)").arg(localName).arg(err));
    try {
        perform(what, remoteName, transfer);
    } catch (...) {
        platform::closeFile(transfer.file);
        throw;
    }
    if (const int err = platform::closeFile(transfer.file); err && get) {
        endSession();
        fail(what, QStringLiteral("kan ikke skrive %1 (feil %2)").arg(localName).arg(err));
    }
}

void FtpClient::get(const QString &remoteName, const QString &localName, std::int64_t announced)
{
    retrieve(remoteName, localName, platform::NoFile, announced);
}

void FtpClient::get(const QString &remoteName, platform::FileHandle file, std::int64_t announced)
{
    retrieve(remoteName, QString(), file, announced);
}

void FtpClient::retrieve(const QString &remoteName, const QString &localName,
                         platform::FileHandle file, std::int64_t announced)
{
    const QString what = QStringLiteral("Kan ikke hente %1").arg(remoteName);
    Transfer get;
    get.kind = Transfer::Get;
    get.file = file;
    get.announced = announced;
    get.limit = announced >= 0 ? announced : INT32_MAX;
    moveFile(what, remoteName, localName, get);
    // A data connection that ends early looks like the end of the file; the announced size
    // tells them apart.
    curl_off_t expected = announced;
    curl_off_t got = 0;
    if (expected < 0) curl_easy_getinfo(m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
    curl_easy_getinfo(m_curl, CURLINFO_SIZE_DOWNLOAD_T, &got);
    if (expected >= 0 && got != expected) {
        endSession();
        fail(what, QStringLiteral("bare %1 av %2 byte kom fram").arg(got).arg(expected));
    }
}

void FtpClient::put(const QString &localName, const QString &remoteName)
{
    Transfer put;
    put.kind = Transfer::Put;
    moveFile(QStringLiteral("Kan ikke lagre %1 på serveren").arg(remoteName), remoteName,
             localName, put);
}

void FtpClient::endSession()
{
    // Cleaning the handle up sends "QUIT" over a connection that is still sound, and closes it.
    if (m_curl) curl_easy_cleanup(m_curl);
    m_curl = nullptr;
    if (!m_connected) return;
    m_connected = false;
    emit disconnected();
}

void FtpClient::disconnectFromServer() { endSession(); }
