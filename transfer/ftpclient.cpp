// ftpclient: the FTP client behind the transfer window, on libcurl.
#include "ftpclient.h"

#include "platform.h"

#include <curl/curl.h>

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>
#include <memory>

#include <sys/select.h>

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
    return duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count();
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

struct UrlCleanup {
    void operator()(CURLU *url) const { curl_url_cleanup(url); }
};
using Url = std::unique_ptr<CURLU, UrlCleanup>;

// How long to pause when libcurl has a step to take but no socket to wait on; its own
// curl_easy_perform waits a whole second then.
constexpr long IdlePauseMs = 5;
// The longest wait on libcurl's sockets, as curl_easy_perform has it: the progress callback,
// and with it the stall check, runs at least this often while nothing moves.
constexpr long LongestWaitMs = 1000;

} // namespace

FtpError::FtpError(const QString &message) : std::runtime_error(message.toStdString()) {}

// What one request moves, and anything a callback could not hand back through libcurl.
struct FtpClient::Transfer {
    enum Kind { Login, Size, Get, Put } kind = Login;
    FtpClient *client = nullptr;
    platform::FileHandle file = platform::NoFile;
    int fileError = 0;
    // A download stops with an error when more bytes come than this; -1 for no limit.
    std::int64_t limit = -1;
    std::int64_t written = 0;
    bool tooMuch = false;
    // A download's size as the caller was told it; -1 when unknown.
    std::int64_t announced = -1;
    // The bytes the data transfer is to move, -1 when unknown: a trickle is one only while
    // bytes are still to come.
    std::int64_t expected = -1;
    // A get or put fails once its byte count has stood still this long, or has grown by less
    // than trickleBytes over this long; 0 for no limit.
    std::int64_t stallMs = 0;
    std::int64_t lastCount = -1;
    std::int64_t lastMove = 0;
    std::int64_t periodStart = 0;
    std::int64_t periodCount = 0;
    bool stalled = false;
    // What the period that fell short moved; -1 when none did.
    std::int64_t trickled = -1;
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

    // libcurl's own low-speed check goes by the average of the last five seconds, so it would
    // fire some six seconds after the last byte; here the limit counts from the last byte, and
    // each period of that length must move trickleBytes while bytes are still to come.
    static bool standsStill(FtpClient::Transfer &t, std::int64_t count)
    {
        if (t.stallMs <= 0) return false;
        const std::int64_t now = milliseconds();
        if (t.lastCount < 0) {
            t.periodStart = now;
            t.periodCount = count;
        }
        if (count != t.lastCount) {
            t.lastCount = count;
            t.lastMove = now;
        } else if (now - t.lastMove >= t.stallMs) {
            return t.stalled = true;
        }
        if (now - t.periodStart < t.stallMs) return false;
        const std::int64_t moved = count - t.periodCount;
        if (moved < FtpClient::trickleBytes && (t.expected < 0 || count < t.expected)) {
            t.trickled = moved;
            return t.stalled = true;
        }
        t.periodStart = now;
        t.periodCount = count;
        return false;
    }

    static int progress(void *user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t,
                        curl_off_t ulnow)
    {
        auto *t = static_cast<FtpClient::Transfer *>(user);
        // Without a size beforehand, the one the server gives at the retrieve counts.
        if (t->kind == FtpClient::Transfer::Get && t->expected < 0 && dltotal > 0)
            t->expected = dltotal;
        const std::int64_t count = t->kind == FtpClient::Transfer::Put ? ulnow : dlnow;
        if (standsStill(*t, count)) return 1;
        // An error of a work handler cannot cross libcurl; it stops the transfer and is raised
        // once the call has returned.
        try {
            t->client->moved(count);
            return 0;
        } catch (...) {
            t->error = std::current_exception();
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
    if (m_multi) curl_multi_cleanup(m_multi);
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

QString FtpClient::withoutCredentials(QString text)
{
    static const QRegularExpression command(QStringLiteral("\\bPASS [^\\r\\n]*"));
    // Up to the last "@" of the word, so a password that holds one is masked whole.
    static const QRegularExpression url(QStringLiteral("([^\\s/@:\"]*):[^\\s/\"]+@"));
    text.replace(command, QStringLiteral("PASS ***"));
    text.replace(url, QStringLiteral("\\1:***@"));
    return text;
}

void FtpClient::fail(const QString &what, const QString &detail)
{
    throw FtpError(what + QStringLiteral(": ") + detail);
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
    openHandle(what);
    Url url(curl_url());
    const QByteArray host = m_host.toUtf8();
    const QByteArray port = QByteArray::number(m_port);
    const QByteArray path = '/' + encodedPath(remoteName);
    const bool urlOk = url && !curl_url_set(url.get(), CURLUPART_SCHEME, "ftp", 0) &&
                       !curl_url_set(url.get(), CURLUPART_HOST, host.constData(), 0) &&
                       !curl_url_set(url.get(), CURLUPART_PORT, port.constData(), 0) &&
                       !curl_url_set(url.get(), CURLUPART_PATH, path.constData(), 0);
    if (!urlOk)
        fail(what, QStringLiteral("servernavnet \"%1\" er ikke et vertsnavn")
                       .arg(withoutCredentials(m_host)));
    setSessionOptions(url.get());
    transfer.client = this;
    setTransferOptions(transfer);
    const int result = drive();
    curl_easy_setopt(m_curl, CURLOPT_CURLU, nullptr);
    return outcome(what, transfer, result, tolerated);
}

void FtpClient::openHandle(const QString &what)
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
    // A reset keeps the open connection, so every request after the login goes over it.
    curl_easy_reset(m_curl);
}

void FtpClient::setSessionOptions(void *url)
{
    CURL *c = m_curl;
    const Limits limits = currentLimits();
    m_error[0] = 0;
    curl_easy_setopt(c, CURLOPT_CURLU, url);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_IPRESOLVE, long(CURL_IPRESOLVE_V4));
    curl_easy_setopt(c, CURLOPT_PROXY, ""); // no proxy, whatever the environment says
    // libcurl keeps copies of the texts it is given.
    curl_easy_setopt(c, CURLOPT_USERNAME, m_username.toUtf8().constData());
    curl_easy_setopt(c, CURLOPT_PASSWORD, m_password.toUtf8().constData());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, m_error);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, limits.responseSeconds);
    // The remote name goes to "SIZE", "RETR" and "STOR" whole, folder and all, so a folder the
    // server lacks is a missing file, not a failed connection.
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    // Bytes move unchanged both ways: no line-end rewriting, sizes that match the file.
    curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, 0L);
    m_reported = 0;
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &FtpCallbacks::discard);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &FtpCallbacks::progress);
}

void FtpClient::setTransferOptions(Transfer &transfer)
{
    CURL *c = m_curl;
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    if (transfer.kind == Transfer::Login || transfer.kind == Transfer::Size) {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &FtpCallbacks::discard);
        return;
    }
    transfer.stallMs = std::int64_t(currentLimits().stallSeconds) * 1000;
    if (transfer.kind == Transfer::Get) {
        transfer.expected = transfer.announced;
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &FtpCallbacks::write);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
        // Sizes, positions and counts of the window are 32-bit; a server that announces more
        // is refused before a byte is written.
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(INT32_MAX));
        // Against a size told beforehand, libcurl would cut off the bytes beyond it and report
        // success; every byte the server sends is counted instead.
        if (transfer.announced >= 0) curl_easy_setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        return;
    }
    std::int64_t bytes = 0;
    platform::fileSize(transfer.file, bytes);
    transfer.expected = bytes;
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &FtpCallbacks::read);
    curl_easy_setopt(c, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(bytes));
    curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
}

// The request runs on the session's multi handle, whose connection cache keeps the control
// connection from one request to the next.
int FtpClient::drive()
{
    if (!m_multi) m_multi = curl_multi_init();
    if (!m_multi || curl_multi_add_handle(m_multi, m_curl) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
    int running = 1;
    int idle = 0;
    CURLMcode code = CURLM_OK;
    while (code == CURLM_OK && running) {
        code = curl_multi_perform(m_multi, &running);
        if (code == CURLM_OK && running) code = CURLMcode(waitForLibcurl(idle));
    }
    CURLcode result = code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == m_curl)
            result = message->data.result;
    curl_multi_remove_handle(m_multi, m_curl);
    return result;
}

// Waits on libcurl's sockets, for no longer than libcurl asks. When it shows none, it has a
// step to take before it opens one (after "229", the data connection is set up but not yet
// begun): it runs again at once, and after short pauses should that step still wait.
int FtpClient::waitForLibcurl(int &idle)
{
    fd_set read, write, except;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&except);
    int highest = -1;
    if (const CURLMcode code = curl_multi_fdset(m_multi, &read, &write, &except, &highest))
        return code;
    if (highest >= 0) {
        idle = 0;
        return curl_multi_poll(m_multi, nullptr, 0, LongestWaitMs, nullptr);
    }
    if (idle++ == 0) return CURLM_OK;
    return curl_multi_poll(m_multi, nullptr, 0, IdlePauseMs, nullptr);
}

int FtpClient::outcome(const QString &what, const Transfer &transfer, int result, int tolerated)
{
    if (transfer.error) {
        endSession();
        std::rethrow_exception(transfer.error);
    }
    if (result == CURLE_OK || result == tolerated) return result;
    const long stallSeconds = currentLimits().stallSeconds;
    // libcurl's text may hold what the server said.
    QString detail = QString::fromUtf8(m_error);
    if (detail.isEmpty()) detail = QString::fromUtf8(curl_easy_strerror(CURLcode(result)));
    detail = withoutCredentials(detail);
    if (transfer.tooMuch)
        detail = QStringLiteral("serveren sendte mer enn %1 byte").arg(transfer.limit);
    if (transfer.stalled)
        detail = QStringLiteral("ingen byte er flyttet på %1 sekunder").arg(stallSeconds);
    if (transfer.trickled >= 0)
        detail = QStringLiteral("bare %1 byte er flyttet på %2 sekunder")
                     .arg(transfer.trickled)
                     .arg(stallSeconds);
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
    // The server field may hold an address with a login in it.
    perform(QStringLiteral("Kan ikke koble til %1 som bruker %2")
                .arg(withoutCredentials(m_host), m_username),
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

void FtpClient::moveFile(const QString &what, const QString &remoteName, const QString &localName,
                         Transfer &transfer)
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
    moveFile(QStringLiteral("Kan ikke lagre %1 på serveren").arg(remoteName), remoteName, localName,
             put);
}

void FtpClient::endSession()
{
    // Cleaning the multi handle up sends "QUIT" over a connection that is still sound, and
    // closes it.
    if (m_multi) curl_multi_cleanup(m_multi);
    m_multi = nullptr;
    if (m_curl) curl_easy_cleanup(m_curl);
    m_curl = nullptr;
    if (!m_connected) return;
    m_connected = false;
    emit disconnected();
}

void FtpClient::disconnectFromServer() { endSession(); }
