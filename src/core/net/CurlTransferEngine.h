#pragma once
// The transfer layer on libcurl's multi interface, driven by the Qt event
// loop of the thread that owns the engine: one QSocketNotifier per socket
// direction and one single-shot QTimer feed curl_multi_socket_action. No
// threads of its own. See platform/Transfer.h for how to use it.
//
// Re-entrancy: curl's callbacks only record what happened (headers, bytes,
// state numbers); the signals are emitted afterwards, once curl has returned,
// so a handler may cancel or delete any request, or start new ones.

#include "net/SystemProxyCache.h"
#include "ports/Transfer.h"

#include <QElapsedTimer>
#include <QFileDevice>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <curl/curl.h>

#include <memory>

class QNetworkCookieJar;
class QSocketNotifier;

namespace dh {

class CurlTransferRequest;

class CurlTransferEngine : public QObject, public TransferEngine {
    Q_OBJECT
public:
    CurlTransferEngine();
    ~CurlTransferEngine() override;

    std::unique_ptr<TransferRequest> execute(const QString& url, const TransferOptions& options = {}) override;
    // One jar for every request of the engine, direct or through a proxy.
    QNetworkCookieJar* cookieJar() override { return m_cookies.get(); }

private:
    friend class CurlTransferRequest;

    struct SocketWatch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    // For requests.
    void attach(CurlTransferRequest* request);   // adds its handle to the multi handle
    void detach(CurlTransferRequest* request);   // removes it (never from inside curl)
    void forget(CurlTransferRequest* request);   // the request is going away
    void touched(CurlTransferRequest* request);  // has news to report once curl returns
    void scheduleDispatch();                     // reports news on the next turn of the loop
    // The proxy for one address with the system's settings: "" for none.
    QByteArray systemProxyFor(const QUrl& url);

    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* engine, void* watch);
    static int onTimer(CURLM* multi, long timeoutMs, void* engine);
    void socketAction(curl_socket_t socket, int events);
    void afterAction();   // collects ended transfers and reports every request's news

    // Declared first so that it outlives the requests that point at it.
    std::unique_ptr<QNetworkCookieJar> m_cookies;
    CURLM* m_multi = nullptr;
    QTimer m_timer;        // curl's time-outs
    QTimer m_dispatch;     // news recorded outside a socket action (resumed bodies)
    QList<QPointer<CurlTransferRequest>> m_touched;
    bool m_inAction = false;  // inside curl: news is reported when it returns
    QSet<CurlTransferRequest*> m_requests;
    QHash<curl_socket_t, SocketWatch> m_watches;
    SystemProxyCache m_proxies;
};

class CurlTransferRequest : public TransferRequest {
    Q_OBJECT
public:
    CurlTransferRequest(CurlTransferEngine* engine, const QString& url, const TransferOptions& options);
    ~CurlTransferRequest() override;

    bool saveBodyTo(const QString& path, SaveMode mode) override;
    bool saveBodyToDescriptor(int fd, const QString& path) override;
    void keepBodyInMemory() override;
    QByteArray getChunk(qint64 maxBytes = 2048) override;
    qint64 bytesWaiting() const override;
    void cancel() override;

private:
    friend class CurlTransferEngine;
    enum class Sink { Hold, Memory, File };

    // One hop of the request (the address, then each redirect target).
    bool setUpHop();
    // curl's callbacks: record, never emit.
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onWrite(char* data, size_t size, size_t count, void* self);
    static int onSocketOption(void* self, curl_socket_t socket, curlsocktype purpose);
    static int onRequestReady(void* self, char* ip, char* localIp, int remotePort, int localPort);
    size_t header(const char* data, size_t size);
    size_t write(const char* data, size_t size);
    void endOfHeaderBlock();
    void record();  // asks the engine to report news once curl returns

    // The engine calls these once curl has returned.
    void transferDone(CURLcode code);
    void dispatch();

    void nextHop();
    void finishWith(CURLcode code);
    void finishNow();
    void abortWith(Failure failure, int code, const QString& info);
    void failAtOnce(Failure failure, int code, const QString& info);
    void onWatchdog();
    bool checkLowSpeed();
    bool writeToFile(const char* data, qint64 size);  // false after a disk failure (reported)
    void closeFile();
    void resume();
    void emitProgress();

    QPointer<CurlTransferEngine> m_engine;
    CURL* m_easy = nullptr;
    bool m_attached = false;
    curl_slist* m_headerList = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};

    TransferOptions m_options;
    QByteArray m_method;      // of the current hop
    QByteArray m_requestBody; // the request body of the current hop
    QByteArray m_hopUrl;      // the current hop's address, encoded
    QByteArray m_proxy;       // the named proxy, "http://host:port"; empty: the system's
    QByteArray m_hopProxy;    // the proxy of the current hop; empty: none
    int m_hops = 0;
    bool m_identityAsked = false;
    bool m_callerCookies = false;  // the caller sent its own Cookie line

    // The header block being read (there is one per hop and per interim answer).
    int m_blockStatus = 0;
    QByteArray m_blockStatusLine;
    QList<QPair<QByteArray, QByteArray>> m_blockHeaders;
    QByteArray m_redirectTo;  // set when the block just read sends us elsewhere
    qint64 m_discarded = 0;   // body bytes of a redirect answer, thrown away

    Sink m_sink = Sink::Hold;
    QByteArray m_hold;        // Hold: body bytes the caller has not taken yet, from m_holdAt
    qint64 m_holdAt = 0;
    bool m_paused = false;    // the hold is full: curl keeps the next bytes until getChunk
    std::unique_ptr<QFileDevice> m_file;
    bool startFileSink(std::unique_ptr<QFileDevice> file);
    QString m_finalPath;      // ReplaceOnCompletion: where the body goes at the end
    QFileDevice::Permissions m_finalPermissions;
    qint64 m_consumed = 0;    // body bytes taken out of the hold or written
    qint64 m_received = 0;    // body bytes off the wire
    bool m_refuseBody = false;

    // News recorded inside curl, reported by dispatch().
    QList<int> m_newStates;
    bool m_newHeaders = false;
    bool m_newData = false;
    bool m_ended = false;
    CURLcode m_endCode = CURLE_OK;
    bool m_done = false;
    bool m_queued = false;    // the engine will call dispatch()

    QTimer m_watchdog;
    QElapsedTimer m_sinceData;
    QElapsedTimer m_speedSpan;
    qint64 m_speedMark = 0;
};

} // namespace dh
