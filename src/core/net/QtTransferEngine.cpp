#include "net/QtTransferEngine.h"

#include "app/Timings.h"
#include "net/SystemProxyCache.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkRequest>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace dh {

namespace {

// Why a write to f failed: the system's word for it (disk full, file too
// large, ...), which Qt leaves as "Unknown error" for a buffered write. Call
// it right after the failed call, with errno cleared before it.
QString writeErrorText(const QFileDevice& f)
{
    const int err = errno;
    if (err != 0)
        return QString::fromLocal8Bit(std::strerror(err));
    return f.errorString();
}

// Method two and the update check follow the system's proxy settings
// (http_proxy, https_proxy, no_proxy). A factory per manager keeps the choice
// away from the application-wide proxy that the embedded browser uses.
// The answers are remembered per host: asking libproxy for every file
// costs more than a small download on a fast line.
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        return m_cache.proxyFor(query);
    }

private:
    SystemProxyCache m_cache;
};

constexpr qint64 kReadBlock = 256 * 1024;  // one read from QtNetwork into the file

// Every request of the thread passes its bytes through this one block: a
// block per request would be mapped, faulted in and unmapped for every file.
// A drain never yields, so the block is never shared by two at once.
char* readBlock()
{
    thread_local std::unique_ptr<char[]> block(new char[kReadBlock]);
    return block.get();
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

// Errors QtNetwork reports for an HTTP status of 400 and above. The server
// did answer, so the transfer itself worked and the body is the answer.
bool isHttpStatusError(QNetworkReply::NetworkError e)
{
    const int n = int(e);
    return (n >= 201 && n <= 299) || e == QNetworkReply::ProtocolInvalidOperationError || (n >= 401 && n <= 499);
}

} // namespace

// ---------------------------------------------------------------- engine

QtTransferEngine::QtTransferEngine()
    : m_cookies(std::make_unique<QNetworkCookieJar>())
    , m_system(std::make_unique<QNetworkAccessManager>())
{
    m_system->setProxyFactory(new SystemProxyFactory);
    shareJar(*m_system);
}

void QtTransferEngine::shareJar(QNetworkAccessManager& manager)
{
    // setCookieJar makes the manager the jar's parent; the engine keeps it.
    manager.setCookieJar(m_cookies.get());
    m_cookies->setParent(nullptr);
}

QtTransferEngine::~QtTransferEngine() = default;

QNetworkAccessManager* QtTransferEngine::managerFor(const TransferOptions& options, QString* error)
{
    if (options.accessType != accessNamedProxy)
        return m_system.get();
    QString host;
    quint16 port = 0;
    if (!parseProxy(options.proxy, &host, &port)) {
        *error = QStringLiteral("invalid proxy address \"%1\"").arg(options.proxy);
        return nullptr;
    }
    const QString key = host + QLatin1Char(':') + QString::number(port);
    auto it = m_proxied.find(key);
    if (it == m_proxied.end()) {
        auto manager = std::make_unique<QNetworkAccessManager>();
        manager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host, port));
        shareJar(*manager);
        it = m_proxied.emplace(key, std::move(manager)).first;
    }
    return it->second.get();
}

std::unique_ptr<TransferRequest> QtTransferEngine::execute(const QString& url, const TransferOptions& options)
{
    QString error;
    QNetworkAccessManager* manager = managerFor(options, &error);
    return std::make_unique<QtTransferRequest>(manager, url, options, m_readBufferSize, error);
}

// ---------------------------------------------------------------- request

QtTransferRequest::QtTransferRequest(QNetworkAccessManager* manager, const QString& url,
                                     const TransferOptions& options, qint64 readBufferSize,
                                     const QString& setupError)
    : TransferRequest(url)
{
    if (!manager) {
        setFailure(Failure::Network, QNetworkReply::ProxyNotFoundError, setupError);
        // Report on the next turn of the loop so that the caller can connect first.
        QTimer::singleShot(0, this, [this] { onFinished(); });
        return;
    }

    QNetworkRequest request{QUrl(url.trimmed())};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(options.maxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    bool callerEncoding = false;
    for (const QByteArray& line : options.headerLines.split('\n')) {
        const QByteArray l = line.trimmed();
        const int colon = l.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = l.left(colon).trimmed();
        request.setRawHeader(name, l.mid(colon + 1).trimmed());
        callerEncoding = callerEncoding || name.compare("Accept-Encoding", Qt::CaseInsensitive) == 0;
    }
    // Ask for the bytes as stored: QtNetwork would otherwise offer gzip and
    // unpack it, and the announced length would no longer match the body.
    if (!callerEncoding)
        request.setRawHeader("Accept-Encoding", "identity");
    m_identityAsked = !callerEncoding;

    // Without a body no Content-Length is sent, as before.
    m_reply = options.body.isEmpty() ? manager->sendCustomRequest(request, options.method.toLatin1())
                                     : manager->sendCustomRequest(request, options.method.toLatin1(), options.body);
    m_reply->setReadBufferSize(readBufferSize);

    connect(m_reply, &QNetworkReply::socketStartedConnecting, this, [this] { setState(TransferStateConnecting); });
    connect(m_reply, &QNetworkReply::requestSent, this, [this] { setState(TransferStateRequestSent); });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &QtTransferRequest::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &QtTransferRequest::onReadyRead);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received) {
        m_sinceData.restart();
        m_received = std::max(m_received, received);
    });
    connect(m_reply, &QNetworkReply::finished, this, &QtTransferRequest::onFinished);

    const auto shortest =
        std::min({timings().transferStall, timings().transferRequestTimeout, timings().lowSpeedTime});
    m_watchdog.setInterval(std::clamp<qint64>(shortest.count() / 10, 5, 1000));
    connect(&m_watchdog, &QTimer::timeout, this, &QtTransferRequest::onWatchdog);
    m_watchdog.start();
    m_sinceData.start();
}

QtTransferRequest::~QtTransferRequest()
{
    if (!m_done)
        cancel();
    if (m_reply) {
        m_reply->disconnect(this);
        // The reply may be in the middle of emitting the signal that led here.
        m_reply->deleteLater();
    }
}

void QtTransferRequest::onMetaData()
{
    m_sinceData.restart();
    takeHeaders();
}

bool QtTransferRequest::takeHeaders()
{
    if (hasHeaders() || !m_reply)
        return true;
    const QVariant statusAttr = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttr.isValid())
        return true;
    const int status = statusAttr.toInt();
    // A redirect that QtNetwork is about to follow is not the response.
    if (status >= 300 && status < 400 && !m_reply->isFinished() && m_reply->hasRawHeader("Location"))
        return true;
    const bool http2 = m_reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    QString statusLine = QStringLiteral("%1 %2").arg(http2 ? QStringLiteral("HTTP/2") : QStringLiteral("HTTP/1.1")).arg(status);
    const QString reason = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (!reason.isEmpty())
        statusLine += QLatin1Char(' ') + reason;
    setHeaders(status, statusLine, m_reply->rawHeaderPairs());
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    m_bytesTotal = length > 0 ? length : 0;

    m_speedSpan.start();
    m_speedMark = m_received;

    QPointer<QtTransferRequest> self(this);
    setState(TransferStateReceiving);
    if (!self)
        return false;
    emit headersReceived();
    if (!self)
        return false;
    notifyWaiters();
    if (!self)
        return false;
    // Coded bytes saved under the document's name would look like a finished
    // download of a broken file; the caller learns the status all the same.
    const QByteArray coding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (m_identityAsked && !coding.isEmpty() && coding != "identity")
        abortWith(Failure::Encoded, transferCodeEncoded, QString::fromLatin1(coding));
    return bool(self);
}

void QtTransferRequest::onReadyRead()
{
    m_sinceData.restart();
    if (!takeHeaders() || m_done)
        return;
    if (!drain())
        return;
    QPointer<QtTransferRequest> self(this);
    emitProgress();
    if (!self)
        return;
    if (m_sink == Sink::Hold) {
        emit dataAvailable();
        if (self)
            notifyWaiters();
    }
}

void QtTransferRequest::emitProgress()
{
    if (m_sink == Sink::Hold)
        m_bytesRead = m_consumed + bytesWaiting();
    emit progress(m_bytesRead, m_bytesTotal);
}

bool QtTransferRequest::drain()
{
    if (!m_reply || m_sink == Sink::Hold)
        return true;
    if (m_sink == Sink::Memory) {
        const QByteArray data = m_reply->readAll();
        m_body += data;
        m_consumed += data.size();
        m_bytesRead = m_consumed;
        return true;
    }
    // File: big reads, buffered writes. The file sees only complete blocks of
    // what arrived; the display granularity is the caller's business.
    for (;;) {
        char* block = readBlock();
        const qint64 n = m_reply->read(block, kReadBlock);
        if (n <= 0)
            break;
        errno = 0;
        if (m_file->write(block, n) != n) {
            const QString info =
                QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), writeErrorText(*m_file));
            // A body that had arrived in full before its file was chosen is
            // finished already: the failure must still count.
            if (m_done)
                setFailure(Failure::DiskWrite, transferCodeDiskWrite, info);
            else
                abortWith(Failure::DiskWrite, transferCodeDiskWrite, info);
            return false;
        }
        m_consumed += n;
        m_bytesRead = m_consumed;
    }
    return true;
}

void QtTransferRequest::onFinished()
{
    if (m_done)
        return;
    m_watchdog.stop();

    if (m_reply) {
        const QNetworkReply::NetworkError error = m_reply->error();
        if (error != QNetworkReply::TooManyRedirectsError && error != QNetworkReply::InsecureRedirectError) {
            if (!takeHeaders() || m_done)
                return;  // a handler of the headers cancelled or deleted us
        }
        if (failure() == Failure::None)
            drain();
        if (failure() == Failure::None && error != QNetworkReply::NoError
            && !(hasHeaders() && isHttpStatusError(error)))
            setFailure(error == QNetworkReply::SslHandshakeFailedError ? Failure::Tls : Failure::Network, int(error),
                       m_reply->errorString());
        // Our own count, not QtNetwork's: a cut that it did not notice still
        // leaves the body short of its announced length.
        const qint64 arrived = m_consumed + m_reply->bytesAvailable();
        if (failure() == Failure::None && m_bytesTotal > 0 && arrived < m_bytesTotal)
            setFailure(Failure::Network, transferCodeIncomplete,
                       QStringLiteral("connection closed after %1 of %2 bytes").arg(arrived).arg(m_bytesTotal));
    }
    if (m_sink == Sink::File)
        closeFile();

    m_done = true;
    finish();
    QPointer<QtTransferRequest> self(this);
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

void QtTransferRequest::closeFile()
{
    if (!m_file)
        return;
    errno = 0;
    if (!m_file->flush() && failure() == Failure::None)
        setFailure(Failure::DiskWrite, transferCodeDiskWrite,
                   QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), writeErrorText(*m_file)));
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

void QtTransferRequest::abortWith(Failure f, int code, const QString& info)
{
    if (m_done)
        return;
    setFailure(f, code, info);
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    onFinished();
}

void QtTransferRequest::onWatchdog()
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

bool QtTransferRequest::checkLowSpeed()
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
        abortWith(Failure::TooSlow, transferCodeTooSlow,
                  QStringLiteral("%1 bytes in %2 ms").arg(got).arg(elapsed));
        return true;
    }
    m_speedSpan.restart();
    m_speedMark = m_received;
    return false;
}

void QtTransferRequest::cancel()
{
    abortWith(Failure::Cancelled, transferCodeCancelled, QStringLiteral("cancelled"));
}

bool QtTransferRequest::saveBodyTo(const QString& path, SaveMode mode)
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
        if (!file->open(how))
            return false;
    }
    m_file = std::move(file);
    m_sink = Sink::File;
    const bool written = drain();
    if (!written && !m_done)
        return true;  // the disk failure has been reported
    if (m_done) {
        // The whole body had arrived before the file was chosen.
        m_bytesRead = m_consumed;
        closeFile();
    }
    return true;
}

void QtTransferRequest::keepBodyInMemory()
{
    if (m_sink != Sink::Hold)
        return;
    m_sink = Sink::Memory;
    drain();
}

QByteArray QtTransferRequest::getChunk(qint64 maxBytes)
{
    if (m_sink != Sink::Hold || !m_reply || maxBytes <= 0)
        return {};
    QByteArray piece = m_reply->read(maxBytes);
    if (!piece.isEmpty()) {
        m_consumed += piece.size();
        // A caller that reads slowly is not a stalled server.
        m_sinceData.restart();
    }
    return piece;
}

qint64 QtTransferRequest::bytesWaiting() const
{
    if (m_sink != Sink::Hold || !m_reply)
        return 0;
    return m_reply->bytesAvailable();
}

} // namespace dh
