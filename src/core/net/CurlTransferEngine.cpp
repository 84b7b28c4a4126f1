#include "net/CurlTransferEngine.h"

#include "app/Timings.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkProxyQuery>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <unistd.h>

namespace dh {

namespace {

// A body the caller has not yet taken (no sink chosen) waits here up to this
// size; beyond it curl stops reading from the socket until getChunk.
constexpr qint64 kHoldLimit = 4 * 1024 * 1024;
// curl's receive buffer per transfer: large reads, few calls, bounded memory.
constexpr long kReceiveBuffer = 256 * 1024;
// The body of a redirect answer is read and thrown away (the connection stays
// usable); one that goes on beyond this ends the hop.
constexpr qint64 kMaxRedirectBody = 1024 * 1024;

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool parseProxy(const QString& text, QString* host, quint16* port)
{
    const QString t = text.trimmed();
    const int colon = t.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const int p = t.mid(colon + 1).trimmed().toInt(&ok);
    if (!ok || p <= 0 || p > 65535)
        return false;
    *host = t.left(colon).trimmed();
    *port = quint16(p);
    return !host->isEmpty();
}

QByteArray proxyAddress(const QString& scheme, const QString& host, quint16 port, const QString& user = {},
                        const QString& password = {})
{
    QByteArray a = scheme.toLatin1() + "://";
    if (!user.isEmpty())
        a += QUrl::toPercentEncoding(user) + ':' + QUrl::toPercentEncoding(password) + '@';
    a += host.contains(QLatin1Char(':')) ? '[' + host.toLatin1() + ']' : QUrl::toAce(host);
    return a + ':' + QByteArray::number(port);
}

bool isTlsFailure(CURLcode code)
{
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QByteArray headerValue(const QList<QPair<QByteArray, QByteArray>>& headers, const char* name)
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

} // namespace

// ---------------------------------------------------------------- engine

CurlTransferEngine::CurlTransferEngine() : m_cookies(std::make_unique<QNetworkCookieJar>())
{
    globalInit();
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlTransferEngine::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlTransferEngine::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { socketAction(CURL_SOCKET_TIMEOUT, 0); });
    m_dispatch.setSingleShot(true);
    m_dispatch.setInterval(0);
    connect(&m_dispatch, &QTimer::timeout, this, &CurlTransferEngine::afterAction);
}

CurlTransferEngine::~CurlTransferEngine()
{
    // Requests that outlive the engine end as cancelled and keep no handle in it.
    const QList<CurlTransferRequest*> left(m_requests.begin(), m_requests.end());
    for (CurlTransferRequest* r : left) {
        r->cancel();
        detach(r);
        r->m_engine = nullptr;
    }
    m_requests.clear();
    curl_multi_cleanup(m_multi);
    for (const SocketWatch& w : std::as_const(m_watches)) {
        delete w.read;
        delete w.write;
    }
}

std::unique_ptr<TransferRequest> CurlTransferEngine::execute(const QString& url, const TransferOptions& options)
{
    return std::make_unique<CurlTransferRequest>(this, url, options);
}

void CurlTransferEngine::attach(CurlTransferRequest* r)
{
    if (r->m_attached || !r->m_easy)
        return;
    r->m_attached = true;
    curl_multi_add_handle(m_multi, r->m_easy);
}

void CurlTransferEngine::detach(CurlTransferRequest* r)
{
    if (!r->m_attached)
        return;
    r->m_attached = false;
    curl_multi_remove_handle(m_multi, r->m_easy);
}

void CurlTransferEngine::forget(CurlTransferRequest* r)
{
    m_requests.remove(r);
}

void CurlTransferEngine::touched(CurlTransferRequest* r)
{
    m_touched.append(r);
    if (!m_inAction)
        scheduleDispatch();
}

void CurlTransferEngine::scheduleDispatch()
{
    if (!m_dispatch.isActive())
        m_dispatch.start();
}

QByteArray CurlTransferEngine::systemProxyFor(const QUrl& url)
{
    for (const QNetworkProxy& p : m_proxies.proxyFor(QNetworkProxyQuery(url))) {
        switch (p.type()) {
        case QNetworkProxy::NoProxy:
            return {};
        case QNetworkProxy::HttpProxy:
            return proxyAddress(QStringLiteral("http"), p.hostName(), p.port(), p.user(), p.password());
        case QNetworkProxy::Socks5Proxy:
            return proxyAddress(QStringLiteral("socks5h"), p.hostName(), p.port(), p.user(), p.password());
        default:
            continue;  // kinds curl cannot use here; try the next answer
        }
    }
    return {};
}

int CurlTransferEngine::onSocket(CURL*, curl_socket_t socket, int what, void* engine, void*)
{
    auto* self = static_cast<CurlTransferEngine*>(engine);
    if (what == CURL_POLL_REMOVE) {
        const auto it = self->m_watches.find(socket);
        if (it != self->m_watches.end()) {
            // The notifier may be the one whose signal is being delivered.
            for (QSocketNotifier* n : {it->read, it->write}) {
                n->setEnabled(false);
                n->deleteLater();
            }
            self->m_watches.erase(it);
        }
        return 0;
    }
    SocketWatch& w = self->m_watches[socket];
    if (!w.read) {
        w.read = new QSocketNotifier(qintptr(socket), QSocketNotifier::Read, self);
        w.write = new QSocketNotifier(qintptr(socket), QSocketNotifier::Write, self);
        connect(w.read, &QSocketNotifier::activated, self, [self, socket] { self->socketAction(socket, CURL_CSELECT_IN); });
        connect(w.write, &QSocketNotifier::activated, self,
                [self, socket] { self->socketAction(socket, CURL_CSELECT_OUT); });
    }
    w.read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    w.write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int CurlTransferEngine::onTimer(CURLM*, long timeoutMs, void* engine)
{
    auto* self = static_cast<CurlTransferEngine*>(engine);
    if (timeoutMs < 0)
        self->m_timer.stop();
    else
        self->m_timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void CurlTransferEngine::socketAction(curl_socket_t socket, int events)
{
    int running = 0;
    m_inAction = true;
    curl_multi_socket_action(m_multi, socket, events, &running);
    m_inAction = false;
    afterAction();
}

void CurlTransferEngine::afterAction()
{
    m_inAction = true;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &left)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        CurlTransferRequest* r = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &r);
        if (!r)
            continue;
        r->m_ended = true;
        r->m_endCode = msg->data.result;
        r->record();
    }
    m_inAction = false;
    // Handlers may delete requests, start new ones or add news of their own
    // (which schedules the next round).
    const QList<QPointer<CurlTransferRequest>> news = std::exchange(m_touched, {});
    for (const QPointer<CurlTransferRequest>& r : news) {
        if (r)
            r->dispatch();
    }
}

namespace {
TransferEngine* g_installed = nullptr;
CurlTransferEngine* g_default = nullptr;
} // namespace

TransferEngine& transferEngine()
{
    if (g_installed)
        return *g_installed;
    if (!g_default) {
        g_default = new CurlTransferEngine;
        // Its notifiers and timers must go before the application object does.
        qAddPostRoutine([] {
            delete g_default;
            g_default = nullptr;
        });
    }
    return *g_default;
}

void setTransferEngine(TransferEngine* engine)
{
    g_installed = engine;
}

// ---------------------------------------------------------------- request

CurlTransferRequest::CurlTransferRequest(CurlTransferEngine* engine, const QString& url,
                                         const TransferOptions& options)
    : TransferRequest(url), m_engine(engine), m_options(options)
{
    engine->m_requests.insert(this);
    m_method = options.method.trimmed().toLatin1();
    if (m_method.isEmpty())
        m_method = "GET";
    m_requestBody = options.body;
    bool callerEncoding = false;
    for (const QByteArray& line : options.headerLines.split('\n')) {
        const QByteArray l = line.trimmed();
        const int colon = l.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = l.left(colon).trimmed();
        callerEncoding = callerEncoding || name.compare("Accept-Encoding", Qt::CaseInsensitive) == 0;
        m_callerCookies = m_callerCookies || name.compare("Cookie", Qt::CaseInsensitive) == 0;
    }
    // Ask for the bytes as stored: a coded answer would not be the document
    // and its length would not match the announced one.
    m_identityAsked = !callerEncoding;

    const auto shortest =
        std::min({timings().transferStall, timings().transferRequestTimeout, timings().lowSpeedTime});
    m_watchdog.setInterval(std::clamp<qint64>(shortest.count() / 10, 5, 1000));
    connect(&m_watchdog, &QTimer::timeout, this, &CurlTransferRequest::onWatchdog);
    m_sinceData.start();

    if (options.accessType == accessNamedProxy) {
        QString host;
        quint16 port = 0;
        if (!parseProxy(options.proxy, &host, &port)) {
            failAtOnce(Failure::Network, CURLE_COULDNT_RESOLVE_PROXY,
                       QStringLiteral("invalid proxy address \"%1\"").arg(options.proxy));
            return;
        }
        m_proxy = proxyAddress(QStringLiteral("http"), host, port);
    }

    m_easy = curl_easy_init();
    if (!m_easy) {
        failAtOnce(Failure::Network, CURLE_OUT_OF_MEMORY, QStringLiteral("cannot start a transfer"));
        return;
    }
    curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CurlTransferRequest::onHeader);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CurlTransferRequest::onWrite);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_SOCKOPTFUNCTION, &CurlTransferRequest::onSocketOption);
    curl_easy_setopt(m_easy, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_PREREQFUNCTION, &CurlTransferRequest::onRequestReady);
    curl_easy_setopt(m_easy, CURLOPT_PREREQDATA, this);
    // Only web addresses, on every hop (redirects are followed here, so that
    // each hop gets its own cookies and the https-to-http rule).
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(m_easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, "Mozilla/5.0");
    curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    m_hopUrl = QUrl(url.trimmed()).toEncoded();
    setUpHop();
    m_watchdog.start();
    engine->attach(this);
}

CurlTransferRequest::~CurlTransferRequest()
{
    if (!m_done)
        cancel();
    if (m_engine) {
        m_engine->detach(this);
        m_engine->forget(this);
    }
    if (m_easy)
        curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headerList);
}

bool CurlTransferRequest::setUpHop()
{
    curl_easy_setopt(m_easy, CURLOPT_URL, m_hopUrl.constData());
    const QUrl hop = QUrl::fromEncoded(m_hopUrl);
    m_hopProxy = !m_proxy.isEmpty() ? m_proxy : m_engine ? m_engine->systemProxyFor(hop) : QByteArray();
    // An empty text means no proxy, whatever the environment says: the
    // system's choice was made above.
    curl_easy_setopt(m_easy, CURLOPT_PROXY, m_hopProxy.constData());

    curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, nullptr);
    if (m_method == "HEAD") {
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
    } else if (!m_requestBody.isEmpty()) {
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_requestBody.size()));
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, m_requestBody.constData());
        if (m_method != "POST")
            curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, m_method.constData());
    } else if (m_method != "GET") {
        curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, m_method.constData());
    }

    curl_slist_free_all(std::exchange(m_headerList, nullptr));
    auto add = [this](const QByteArray& line) { m_headerList = curl_slist_append(m_headerList, line.constData()); };
    for (const QByteArray& line : m_options.headerLines.split('\n')) {
        const QByteArray l = line.trimmed();
        const int colon = l.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray value = l.mid(colon + 1).trimmed();
        // "Name;" is curl's way to send a header without a value.
        add(l.left(colon).trimmed() + (value.isEmpty() ? QByteArray(";") : ": " + value));
    }
    if (m_identityAsked)
        add("Accept-Encoding: identity");
    add("Expect:");
    if (!m_callerCookies && m_engine) {
        QByteArray cookies;
        for (const QNetworkCookie& c : m_engine->cookieJar()->cookiesForUrl(hop)) {
            if (!cookies.isEmpty())
                cookies += "; ";
            cookies += c.toRawForm(QNetworkCookie::NameAndValueOnly);
        }
        if (!cookies.isEmpty())
            add("Cookie: " + cookies);
    }
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headerList);

    m_blockStatus = 0;
    m_blockStatusLine.clear();
    m_blockHeaders.clear();
    m_redirectTo.clear();
    m_discarded = 0;
    return true;
}

void CurlTransferRequest::record()
{
    if (m_queued || !m_engine)
        return;
    m_queued = true;
    m_engine->touched(this);
}

size_t CurlTransferRequest::onHeader(char* data, size_t size, size_t count, void* self)
{
    return static_cast<CurlTransferRequest*>(self)->header(data, size * count);
}

size_t CurlTransferRequest::onWrite(char* data, size_t size, size_t count, void* self)
{
    return static_cast<CurlTransferRequest*>(self)->write(data, size * count);
}

int CurlTransferRequest::onSocketOption(void* self, curl_socket_t, curlsocktype purpose)
{
    if (purpose == CURLSOCKTYPE_IPCXN) {
        auto* r = static_cast<CurlTransferRequest*>(self);
        r->m_newStates << TransferStateConnecting;
        r->record();
    }
    return CURL_SOCKOPT_OK;
}

int CurlTransferRequest::onRequestReady(void* self, char*, char*, int, int)
{
    auto* r = static_cast<CurlTransferRequest*>(self);
    r->m_newStates << TransferStateRequestSent;
    r->record();
    return CURL_PREREQFUNC_OK;
}

size_t CurlTransferRequest::header(const char* data, size_t size)
{
    m_sinceData.restart();
    if (hasHeaders())
        return size;  // trailers after the body
    QByteArray line(data, qsizetype(size));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        m_blockStatusLine = line.trimmed();
        m_blockHeaders.clear();
        const QList<QByteArray> parts = m_blockStatusLine.split(' ');
        m_blockStatus = parts.size() > 1 ? parts[1].toInt() : 0;
    } else if (line.isEmpty()) {
        endOfHeaderBlock();
    } else if ((line[0] == ' ' || line[0] == '\t') && !m_blockHeaders.isEmpty()) {
        m_blockHeaders.last().second += ' ' + line.trimmed();  // a folded line
    } else if (const int colon = line.indexOf(':'); colon > 0) {
        m_blockHeaders.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return size;
}

void CurlTransferRequest::endOfHeaderBlock()
{
    const int status = m_blockStatus;
    if (status >= 100 && status < 200) {
        m_blockHeaders.clear();  // an interim answer (100 Continue)
        return;
    }
    // Cookies of every answer count, those of redirects too.
    if (m_engine) {
        QList<QNetworkCookie> cookies;
        for (const auto& [key, value] : std::as_const(m_blockHeaders)) {
            if (key.compare("Set-Cookie", Qt::CaseInsensitive) == 0)
                cookies += QNetworkCookie::parseCookies(value);
        }
        if (!cookies.isEmpty())
            m_engine->cookieJar()->setCookiesFromUrl(cookies, QUrl::fromEncoded(m_hopUrl));
    }
    const QByteArray location = headerValue(m_blockHeaders, "Location");
    if (isRedirect(status) && !location.isEmpty()) {
        m_redirectTo = location;
        return;
    }
    setHeaders(status, QString::fromLatin1(m_blockStatusLine), m_blockHeaders);
    const qint64 length = headerValue(m_blockHeaders, "Content-Length").trimmed().toLongLong();
    m_bytesTotal = length > 0 ? length : 0;
    // A body that arrives before its sink is chosen waits here: room for it
    // at once, instead of growing (and copying) piece by piece.
    if (m_sink == Sink::Hold && length > 0 && m_hold.isEmpty())
        m_hold.reserve(qsizetype(std::min<qint64>(length, kHoldLimit)));
    m_speedSpan.start();
    m_speedMark = m_received;
    m_newHeaders = true;
    record();
    // Coded bytes saved under the document's name would look like a finished
    // download of a broken file; the caller learns the status all the same.
    const QByteArray coding = headerValue(m_blockHeaders, "Content-Encoding").trimmed().toLower();
    if (m_identityAsked && !coding.isEmpty() && coding != "identity") {
        setFailure(Failure::Encoded, transferCodeEncoded, QString::fromLatin1(coding));
        m_refuseBody = true;
    }
}

size_t CurlTransferRequest::write(const char* data, size_t size)
{
    if (!m_redirectTo.isEmpty()) {
        m_discarded += qint64(size);
        return m_discarded > kMaxRedirectBody ? 0 : size;
    }
    if (m_refuseBody || m_done)
        return 0;
    m_sinceData.restart();
    const qint64 n = qint64(size);
    switch (m_sink) {
    case Sink::Hold:
        if (bytesWaiting() >= kHoldLimit) {
            m_paused = true;  // curl keeps these bytes and offers them again on resume()
            return CURL_WRITEFUNC_PAUSE;
        }
        m_hold.append(data, n);
        break;
    case Sink::Memory:
        m_body.append(data, n);
        m_consumed += n;
        m_bytesRead = m_consumed;
        break;
    case Sink::File:
        if (!writeToFile(data, n)) {
            m_refuseBody = true;
            return 0;
        }
        m_consumed += n;
        m_bytesRead = m_consumed;
        break;
    }
    m_received += n;
    m_newData = true;
    record();
    return size;
}

bool CurlTransferRequest::writeToFile(const char* data, qint64 size)
{
    const int fd = m_file->handle();
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const QString info = QStringLiteral("cannot write %1: %2")
                                     .arg(m_file->fileName(), QString::fromLocal8Bit(std::strerror(errno)));
            setFailure(Failure::DiskWrite, transferCodeDiskWrite, info);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void CurlTransferRequest::dispatch()
{
    m_queued = false;
    if (m_done)
        return;
    QPointer<CurlTransferRequest> self(this);
    const QList<int> states = std::exchange(m_newStates, {});
    for (int s : states) {
        setState(s);
        if (!self || m_done)
            return;
    }
    if (std::exchange(m_newHeaders, false)) {
        setState(TransferStateReceiving);
        if (!self || m_done)
            return;
        emit headersReceived();
        if (!self || m_done)
            return;
        notifyWaiters();
        if (!self || m_done)
            return;
        if (failure() == Failure::Encoded) {
            abortWith(Failure::Encoded, transferCodeEncoded, {});
            return;
        }
    }
    if (std::exchange(m_newData, false)) {
        emitProgress();
        if (!self || m_done)
            return;
        if (m_sink == Sink::Hold) {
            emit dataAvailable();
            if (!self || m_done)
                return;
            notifyWaiters();
            if (!self || m_done)
                return;
        }
    }
    if (std::exchange(m_ended, false))
        transferDone(m_endCode);
}

void CurlTransferRequest::transferDone(CURLcode code)
{
    if (m_engine)
        m_engine->detach(this);
    if (!m_redirectTo.isEmpty() && failure() == Failure::None)
        nextHop();
    else
        finishWith(code);
}

void CurlTransferRequest::nextHop()
{
    const QUrl from = QUrl::fromEncoded(m_hopUrl);
    const QUrl to = from.resolved(QUrl(QString::fromUtf8(m_redirectTo)));
    const QString scheme = to.scheme().toLower();
    if (++m_hops > m_options.maxRedirects) {
        abortWith(Failure::Network, CURLE_TOO_MANY_REDIRECTS,
                  QStringLiteral("Too many redirects (more than %1)").arg(m_options.maxRedirects));
        return;
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        abortWith(Failure::Network, CURLE_UNSUPPORTED_PROTOCOL,
                  QStringLiteral("redirect to an address that is not http or https: %1").arg(to.toString()));
        return;
    }
    if (from.scheme().toLower() == QLatin1String("https") && scheme == QLatin1String("http")) {
        abortWith(Failure::Network, CURLE_UNSUPPORTED_PROTOCOL,
                  QStringLiteral("insecure redirect from https to http: %1").arg(to.toString()));
        return;
    }
    // As browsers do: 303 asks with GET, and so do 301 and 302 after a POST.
    if ((m_blockStatus == 303 && m_method != "HEAD") || ((m_blockStatus == 301 || m_blockStatus == 302) && m_method == "POST")) {
        m_method = "GET";
        m_requestBody.clear();
    }
    m_hopUrl = to.toEncoded();
    setUpHop();
    if (m_engine)
        m_engine->attach(this);
}

void CurlTransferRequest::finishWith(CURLcode code)
{
    if (code != CURLE_OK && failure() == Failure::None) {
        QString text = m_errorText[0] ? QString::fromLocal8Bit(m_errorText)
                                      : QString::fromLatin1(curl_easy_strerror(code));
        // The system's own word for a refused connection ("Connection
        // refused"), as the rows have always said; and whether it was the proxy.
        long osError = 0;
        if (code == CURLE_COULDNT_CONNECT && curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osError) == CURLE_OK
            && osError != 0)
            text = QString::fromLocal8Bit(std::strerror(int(osError)));
        if (code == CURLE_COULDNT_CONNECT && !m_hopProxy.isEmpty())
            text = QStringLiteral("Proxy connection failed: ") + text;
        if (code == CURLE_PARTIAL_FILE && m_bytesTotal > 0)
            setFailure(Failure::Network, transferCodeIncomplete,
                       QStringLiteral("connection closed after %1 of %2 bytes").arg(m_received).arg(m_bytesTotal));
        else
            setFailure(isTlsFailure(code) ? Failure::Tls : Failure::Network, int(code), text);
    }
    // Our own count as well: a body short of its announced length is never
    // a finished download, whatever the connection said.
    const bool bodyExpected = m_method != "HEAD" && httpStatus() != 204 && httpStatus() != 304;
    if (failure() == Failure::None && bodyExpected && m_bytesTotal > 0 && m_received < m_bytesTotal)
        setFailure(Failure::Network, transferCodeIncomplete,
                   QStringLiteral("connection closed after %1 of %2 bytes").arg(m_received).arg(m_bytesTotal));
    finishNow();
}

void CurlTransferRequest::finishNow()
{
    if (m_done)
        return;
    m_watchdog.stop();
    if (m_engine)
        m_engine->detach(this);
    if (m_sink == Sink::File)
        closeFile();
    m_done = true;
    finish();
    QPointer<CurlTransferRequest> self(this);
    emitProgress();
    if (!self)
        return;
    setState(failure() == Failure::None ? TransferStateCompleted : TransferStateError);
    if (!self)
        return;
    emit dataAvailable();
    if (!self)
        return;
    emit finished();
    if (self)
        notifyWaiters();
}

void CurlTransferRequest::abortWith(Failure f, int code, const QString& info)
{
    if (m_done)
        return;
    setFailure(f, code, info);
    finishNow();
}

void CurlTransferRequest::failAtOnce(Failure f, int code, const QString& info)
{
    setFailure(f, code, info);
    // Reported on the next turn of the loop, so that the caller can connect first.
    QTimer::singleShot(0, this, [this] { finishNow(); });
}

void CurlTransferRequest::cancel()
{
    abortWith(Failure::Cancelled, transferCodeCancelled, QStringLiteral("cancelled"));
}

void CurlTransferRequest::emitProgress()
{
    if (m_sink == Sink::Hold)
        m_bytesRead = m_consumed + bytesWaiting();
    emit progress(m_bytesRead, m_bytesTotal);
}

void CurlTransferRequest::onWatchdog()
{
    if (m_done)
        return;
    if (!hasHeaders()) {
        if (m_sinceData.elapsed() >= timings().transferRequestTimeout.count())
            abortWith(Failure::NoResponse, transferCodeNoResponse, QStringLiteral("no response"));
    } else if (m_sinceData.elapsed() >= timings().transferStall.count()) {
        abortWith(Failure::Stalled, transferCodeStalled, QStringLiteral("no data received"));
    } else {
        checkLowSpeed();
    }
}

bool CurlTransferRequest::checkLowSpeed()
{
    const qint64 span = timings().lowSpeedTime.count();
    const qint64 limit = timings().lowSpeedLimit;
    if (span <= 0 || limit <= 0 || !m_speedSpan.isValid())
        return false;
    // A caller that takes the body piece by piece sets the pace itself.
    if (m_sink == Sink::Hold) {
        m_speedSpan.restart();
        m_speedMark = m_received;
        return false;
    }
    const qint64 elapsed = m_speedSpan.elapsed();
    if (elapsed < span)
        return false;
    const qint64 got = m_received - m_speedMark;
    // A span without a byte is the stall rule's to judge (its own, longer wait).
    if (got > 0 && got * 1000 < limit * elapsed) {
        abortWith(Failure::TooSlow, transferCodeTooSlow, QStringLiteral("%1 bytes in %2 ms").arg(got).arg(elapsed));
        return true;
    }
    m_speedSpan.restart();
    m_speedMark = m_received;
    return false;
}

void CurlTransferRequest::closeFile()
{
    if (!m_file)
        return;
    if (auto* temp = qobject_cast<QTemporaryFile*>(m_file.get())) {
        // The final permissions through the open descriptor: no second path lookup.
        if (failure() == Failure::None && !temp->setPermissions(m_finalPermissions))
            QFile::setPermissions(temp->fileName(), m_finalPermissions);
        temp->close();
        if (failure() == Failure::None) {
            // rename() replaces the placeholder in one step. No fsync: like
            // any browser or curl, a download is not worth a disk flush, and
            // six of them would wait on it.
            std::error_code ec;
            std::filesystem::rename(QFile::encodeName(temp->fileName()).toStdString(),
                                    QFile::encodeName(m_finalPath).toStdString(), ec);
            if (ec)
                setFailure(Failure::DiskWrite, transferCodeDiskWrite,
                           QStringLiteral("cannot move the body to %1: %2")
                               .arg(m_finalPath, QString::fromLocal8Bit(ec.message().c_str())));
            else
                temp->setAutoRemove(false);
        }
        // A temporary file that was not moved is removed with its object.
    } else {
        m_file->close();
    }
    m_file.reset();
}

void CurlTransferRequest::resume()
{
    if (!m_paused || !m_easy || m_done)
        return;
    m_paused = false;
    // curl hands over the bytes it kept right here (write() records them).
    curl_easy_pause(m_easy, CURLPAUSE_CONT);
}

bool CurlTransferRequest::saveBodyTo(const QString& path, SaveMode mode)
{
    if (m_sink == Sink::File)
        return false;
    std::unique_ptr<QFileDevice> file;
    if (mode == SaveMode::ReplaceOnCompletion) {
        // Hidden, beside the target, so that the final move stays on one file system.
        const QFileInfo target(path);
        auto temp = std::make_unique<QTemporaryFile>(target.absolutePath() + QStringLiteral("/.")
                                                     + target.fileName() + QStringLiteral(".XXXXXX.part"));
        if (!temp->open())
            return false;
        m_finalPath = target.absoluteFilePath();
        m_finalPermissions = target.exists() ? QFile::permissions(path)
                                             : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                   | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        file = std::move(temp);
    } else {
        file = std::make_unique<QFile>(path);
        const auto how = mode == SaveMode::Append ? QIODevice::WriteOnly | QIODevice::Append
                                                  : QIODevice::WriteOnly | QIODevice::Truncate;
        if (!file->open(how | QIODevice::Unbuffered))
            return false;
    }
    return startFileSink(std::move(file));
}

bool CurlTransferRequest::saveBodyToDescriptor(int fd, const QString& path)
{
    if (m_sink == Sink::File || fd < 0)
        return false;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
        return false;
    return startFileSink(std::move(file));
}

bool CurlTransferRequest::startFileSink(std::unique_ptr<QFileDevice> file)
{
    m_file = std::move(file);
    m_sink = Sink::File;
    // What arrived before the file was chosen goes first.
    const qint64 waiting = qint64(m_hold.size()) - m_holdAt;
    const bool written = waiting <= 0 || writeToFile(m_hold.constData() + m_holdAt, waiting);
    m_hold = QByteArray();
    m_holdAt = 0;
    if (!written) {
        // A body that had arrived in full before its file was chosen is
        // finished already: the failure (recorded) must still count.
        if (!m_done)
            abortWith(Failure::DiskWrite, transferCodeDiskWrite, {});
        else
            closeFile();
        return true;
    }
    m_consumed += std::max<qint64>(waiting, 0);
    m_bytesRead = m_consumed;
    if (m_done)
        closeFile();
    else
        resume();
    return true;
}

void CurlTransferRequest::keepBodyInMemory()
{
    if (m_sink != Sink::Hold)
        return;
    m_sink = Sink::Memory;
    const qint64 waiting = qint64(m_hold.size()) - m_holdAt;
    if (waiting > 0)
        m_body += m_holdAt == 0 ? m_hold : m_hold.mid(m_holdAt);
    m_hold = QByteArray();
    m_holdAt = 0;
    m_consumed += std::max<qint64>(waiting, 0);
    m_bytesRead = m_consumed;
    resume();
}

QByteArray CurlTransferRequest::getChunk(qint64 maxBytes)
{
    if (m_sink != Sink::Hold || maxBytes <= 0)
        return {};
    const qint64 n = std::min(maxBytes, bytesWaiting());
    if (n <= 0)
        return {};
    QByteArray piece = m_hold.mid(m_holdAt, n);
    m_holdAt += n;
    if (m_holdAt >= m_hold.size()) {
        m_hold.clear();
        m_holdAt = 0;
    } else if (m_holdAt >= 1024 * 1024) {
        m_hold.remove(0, m_holdAt);
        m_holdAt = 0;
    }
    m_consumed += n;
    // A caller that reads slowly is not a stalled server.
    m_sinceData.restart();
    if (bytesWaiting() < kHoldLimit / 2)
        resume();
    return piece;
}

qint64 CurlTransferRequest::bytesWaiting() const
{
    if (m_sink != Sink::Hold)
        return 0;
    return qint64(m_hold.size()) - m_holdAt;
}

} // namespace dh
