#pragma once
// HTTP transfer layer: the engine's one way to fetch an address.
//
// Three callers use it: method one (single connection, optional named proxy,
// Referer line, body read as it arrives), method two (parallel transfers into a
// temporary file beside the target) and the update check (whole-body fetch).
// Everything runs on the thread that owns the engine (the UI thread); signals
// arrive there and every wait is a coroutine, never a nested event loop.
//
// Usage
// -----
//   auto& engine = dh::transferEngine();
//
//   // Method one: named proxy, Referer, wait for the response, then stream.
//   dh::TransferOptions o;
//   o.accessType = dh::accessNamedProxy;           // or accessSystemDefault
//   o.proxy = "127.0.0.1:8888";
//   o.headerLines = "Referer: http://site/page\r\n";
//   std::unique_ptr<dh::TransferRequest> r = engine.execute(url, o);   // starts at once
//   connect(r.get(), &dh::TransferRequest::stateChanged, ...);          // panel 3 text
//   if (!co_await r->waitForHeaders(timeout)) { r->cancel(); ... }     // empty header block
//   QString size = r->getHeader("content-length");                   // case-insensitive
//   QString block = r->getHeader();                  // "HTTP/1.1 200 OK\r\nName: value..."
//   r->saveBodyTo(path, dh::SaveMode::Direct);       // data from here on goes to disk
//   connect(r.get(), &dh::TransferRequest::progress, ...);  // (read, total or 0)
//   co_await r->waitForFinished();                   // or poll stillExecuting()
//   if (!r->succeeded()) ... r->failure(), r->responseCode(), r->responseInfo()
//
//   // Method two: the caller has written its 2-byte placeholder at `target`;
//   // the body goes to a temporary file beside it and replaces it only when
//   // the whole body has arrived (on failure the placeholder stays).
//   auto r = engine.execute(url);                    // system proxy settings
//   r->saveBodyTo(target, dh::SaveMode::ReplaceOnCompletion);
//
//   // Update check / fallback fetch: all bytes or nothing.
//   QByteArray bytes = co_await engine.openUrl(url);
//
//   // Reading pieces by hand (the control's GetChunk): as long as no sink is
//   // chosen, data waits in a bounded buffer and getChunk(2048) takes it.
//   while (co_await r->waitForData(stall)) { QByteArray piece = r->getChunk(2048); ... }
//
// Rules the callers can rely on
// - Redirects are followed (same or other origin, at most 10 hops; never from
//   https down to http). Certificates are always verified.
// - A response with any HTTP status counts as delivered: a 404 page is a body
//   like any other (httpStatus() tells the status). Failures are transport
//   failures: no response, a cut connection, a stall, a disk that refuses the
//   data, a cancel.
// - No data for dh::timings().transferStall after the response began (or no
//   response within dh::timings().transferRequestTimeout) ends the request
//   with Failure::Stalled / Failure::NoResponse. A body that goes to a file
//   or to memory and arrives slower than dh::timings().lowSpeedLimit bytes a
//   second, over a whole dh::timings().lowSpeedTime, ends with
//   Failure::TooSlow (a span in which nothing came is the stall rule's).
// - The bytes are asked for as stored (Accept-Encoding: identity, unless the
//   caller sent its own). A response that comes with a Content-Encoding all
//   the same ends with Failure::Encoded (responseInfo() names the coding):
//   this layer does not undo codings, and the coded bytes are not the
//   document.
// - cancel() closes any file the request wrote, so the caller may delete it.
//   A Direct file keeps what arrived; a ReplaceOnCompletion temporary file is
//   removed and the target is left as it was.
// - progress(read, total) comes once per arrival of data, whatever its size;
//   a display that moves in 2048-byte steps needs nothing more. The file is
//   written in large blocks as data arrives, never 2048 bytes at a time.
// - Deleting a running request cancels it.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <QCoroTask>

class QNetworkAccessManager;
class QNetworkCookieJar;

#include <chrono>
#include <memory>
#include <utility>

namespace dh {

// Connection state numbers, as shown in the status bar of the download window.
// This layer reports Connecting (a new connection), RequestSent, Receiving
// (the response headers are here), Completed and Error.
enum TransferStateNumber : int {
    TransferStateNone = 0,
    TransferStateResolving = 1,
    TransferStateResolved = 2,
    TransferStateConnecting = 3,
    TransferStateConnected = 4,
    TransferStateRequesting = 5,
    TransferStateRequestSent = 6,
    TransferStateReceiving = 7,
    TransferStateResponseReceived = 8,
    TransferStateClosing = 9,
    TransferStateClosed = 10,
    TransferStateError = 11,
    TransferStateCompleted = 12,
};

// The status-bar text for a state number. 11 and unknown numbers carry the
// failure in the user's words (a Chinese reason, the network's own words in
// brackets), never a bare library code.
QString transferStateText(int state, const QString& failure);

// AccessType values.
constexpr int accessSystemDefault = 0;  // system proxy settings (http_proxy, https_proxy, no_proxy)
constexpr int accessNamedProxy = 2;     // the HTTP proxy named in TransferOptions::proxy

enum class TransferProtocol : int { Http = 4, Https = 5 };

// Connection settings of a method-one request. Protocol and remotePort are
// informational: the address (and the proxy) decide where the request goes.
struct TransferConnection {
    int accessType = accessSystemDefault;
    QString proxy;  // "host:port" with accessNamedProxy, else empty
    int remotePort = 80;
    TransferProtocol protocol = TransferProtocol::Http;
};

// Method one's connection settings for an address: named proxy when enabled
// (remote port = the proxy port), otherwise the port written in the address
// or 80; an https address is protocol Https on port 443 in both cases.
TransferConnection transferConnectionFor(const QString& url, bool proxyEnabled,
                                         const QString& proxyHost, const QString& proxyPort);

struct TransferOptions {
    QString method = QStringLiteral("GET");
    int accessType = accessSystemDefault;
    QString proxy;           // "host:port", used with accessNamedProxy
    QByteArray headerLines;  // extra "Name: value\r\n" lines, sent as given
    int maxRedirects = 10;
    QByteArray body;         // request body (asynchronous requests that send one); empty: none
};

enum class SaveMode {
    Direct,               // write at the path as data arrives; a failed transfer leaves its part
    ReplaceOnCompletion,  // write a temporary file beside the path, move it over the path at the end
    Append,               // like Direct, but after what the file holds already (a resumed body);
                          // bytesRead() counts this request's bytes only
};

// One request. Created started by TransferEngine::execute.
class TransferRequest : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        None,
        Cancelled,
        NoResponse,  // nothing answered within the request time-out
        Stalled,     // the body stopped arriving
        Network,     // refused, cut, bad address, too many redirects, TLS, proxy...
        DiskWrite,   // the body file could not be created or written
        TooSlow,     // the body arrived below the low-speed limit
        Encoded,     // the body came with a Content-Encoding that was not asked for
        Tls,         // the secure connection was refused (certificate, handshake): asking again will not help
    };
    Q_ENUM(Failure)

    explicit TransferRequest(QString url, QObject* parent = nullptr);
    ~TransferRequest() override;

    QString url() const { return m_url; }

    bool stillExecuting() const { return !m_finished; }
    bool hasHeaders() const { return m_hasHeaders; }
    int httpStatus() const { return m_httpStatus; }  // 0 before a response

    // One response header, case-insensitive name; empty when absent.
    QString getHeader(const QString& name) const;
    // The whole header block: status line first, lines joined by CR LF;
    // empty when no response came.
    QString getHeader() const;

    qint64 bytesRead() const { return m_bytesRead; }
    qint64 bytesTotal() const { return m_bytesTotal; }  // 0 when the server gave no length

    Failure failure() const { return m_failure; }
    bool succeeded() const { return m_finished && m_failure == Failure::None; }
    int responseCode() const { return m_responseCode; }    // of the last error, 0 when none
    QString responseInfo() const { return m_responseInfo; }
    int state() const { return m_state; }                  // last state number reported

    // Body sinks. Until one is chosen the body waits in a bounded buffer.
    // saveBodyTo writes what is already buffered and everything after it;
    // returns false (and leaves the request in its previous sink) when the file
    // cannot be created.
    virtual bool saveBodyTo(const QString& path, SaveMode mode) = 0;
    // SaveMode::Direct into a file the caller has just made at path and
    // holds open (fd, from its start): no second open. The descriptor stays
    // the caller's, to close once the request has ended or been cancelled.
    virtual bool saveBodyToDescriptor(int fd, const QString& path)
    {
        Q_UNUSED(fd);
        return saveBodyTo(path, SaveMode::Direct);
    }
    // Collect the body in memory (whole-body fetch); takeBody() hands it over.
    virtual void keepBodyInMemory() = 0;
    QByteArray takeBody() { return std::exchange(m_body, {}); }
    // Without a sink: the next piece of the body that has arrived, at most
    // maxBytes; empty when nothing is waiting.
    virtual QByteArray getChunk(qint64 maxBytes = 2048) = 0;
    virtual qint64 bytesWaiting() const = 0;
    // Abandons the request and closes the connection and any file.
    virtual void cancel() = 0;

    // Waits. A negative timeout waits as long as it takes. Keep the request
    // alive while a wait on it is pending.
    // True once the response headers are here; false when the request ended
    // without a response or the timeout passed first.
    QCoro::Task<bool> waitForHeaders(std::chrono::milliseconds timeout = std::chrono::milliseconds{-1});
    // True once the request has ended (check succeeded()); false on timeout.
    QCoro::Task<bool> waitForFinished(std::chrono::milliseconds timeout = std::chrono::milliseconds{-1});
    // Without a sink: true when getChunk has bytes; false when the body has
    // ended (or the timeout passed) and nothing is waiting.
    QCoro::Task<bool> waitForData(std::chrono::milliseconds timeout = std::chrono::milliseconds{-1});

private:
    // False when the request was deleted during the wait.
    template<typename Done>
    QCoro::Task<bool> waitUntil(Done done, std::chrono::milliseconds timeout);

public:

signals:
    void stateChanged(int state);
    void headersReceived();
    void dataAvailable();                           // bytes for getChunk, or the end
    void progress(qint64 bytesRead, qint64 bytesTotal);  // total 0 when unknown
    void finished();                                // exactly once
    // Internal: emitted after each of the above, so that the waits can watch
    // one signal.
    void changed();

protected:
    // For implementations (and fakes in tests).
    void setState(int state);
    void setHeaders(int httpStatus, const QString& statusLine,
                    QList<QPair<QByteArray, QByteArray>> headers);
    void setFailure(Failure failure, int code, const QString& info);
    void finish();
    // Emits changed(); implementations call it after their own signals.
    void notifyWaiters() { emit changed(); }

    QString m_url;
    QByteArray m_body;
    qint64 m_bytesRead = 0;
    qint64 m_bytesTotal = 0;

private:
    bool m_finished = false;
    bool m_hasHeaders = false;
    int m_httpStatus = 0;
    QString m_statusLine;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    Failure m_failure = Failure::None;
    int m_responseCode = 0;
    QString m_responseInfo;
    int m_state = TransferStateNone;
};

// Response codes for failures found by this layer itself; network failures
// report libcurl's CURLcode numbers (all below 1000).
constexpr int transferCodeCancelled = 1001;
constexpr int transferCodeNoResponse = 1002;
constexpr int transferCodeStalled = 1003;
constexpr int transferCodeDiskWrite = 1004;
constexpr int transferCodeIncomplete = 1005;  // connection ended before the announced length
constexpr int transferCodeTooSlow = 1006;
constexpr int transferCodeEncoded = 1007;

class TransferEngine {
public:
    virtual ~TransferEngine() = default;
    // Starts a request at once.
    virtual std::unique_ptr<TransferRequest> execute(const QString& url, const TransferOptions& options = {}) = 0;
    // Whole-body fetch: every byte of the body, or empty when the fetch failed.
    virtual QCoro::Task<QByteArray> openUrl(QString url, TransferOptions options = {});
    // The cookies every request of this engine sends and keeps (one jar for
    // direct and proxied requests alike); nullptr when the engine keeps none.
    // A login made elsewhere (the embedded browser) unlocks downloads by
    // putting its cookies here.
    virtual QNetworkCookieJar* cookieJar() { return nullptr; }
};

// The process-wide engine (libcurl unless a test installed another).
TransferEngine& transferEngine();
// Installs an engine (not owned); nullptr returns to the libcurl engine.
void setTransferEngine(TransferEngine* engine);
// Lets another access manager (a headless browser) keep its cookies in the
// process-wide engine's jar, so what it logs into the transfers share. Does
// nothing when the engine keeps no cookies. The jar stays the engine's.
void shareTransferCookies(QNetworkAccessManager& manager);

} // namespace dh
