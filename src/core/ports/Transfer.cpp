#include "ports/Transfer.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QTimer>

#include <coroutine>
#include <memory>

namespace dh {

QString transferStateText(int state, const QString& failure)
{
    switch (state) {
    case 0: return QStringLiteral("0 无状态可报告。");
    case 1: return QStringLiteral("1 正在查询所指定的主机的 IP 地址...");
    case 2: return QStringLiteral("2 已成功地找到所指定的主机的 IP 地址。");
    case 3: return QStringLiteral("3 正在与主机连接...");
    case 4: return QStringLiteral("4 已与主机连接成功。");
    case 5: return QStringLiteral("5 正在向主机发送请求...");
    case 6: return QStringLiteral("6 发送请求已成功。");
    case 7: return QStringLiteral("7 正在接收主机的响应...");
    case 8: return QStringLiteral("8 已成功地接收到主机的响应。");
    case 9: return QStringLiteral("9 正在解除与主机的连接...");
    case 10: return QStringLiteral("10 已成功地与主机解除了连接。");
    case 11: return QStringLiteral("11 与主机通讯时出现了错误:") + failure;
    case 12: return QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。");
    default: return failure;
    }
}

TransferConnection transferConnectionFor(const QString& url, bool proxyEnabled,
                                         const QString& proxyHost, const QString& proxyPort)
{
    TransferConnection c;
    if (proxyEnabled) {
        c.accessType = accessNamedProxy;
        c.proxy = proxyHost + QLatin1Char(':') + proxyPort;
        bool ok = false;
        const int port = proxyPort.trimmed().toInt(&ok);
        c.remotePort = ok ? port : 0;
    } else {
        c.accessType = accessSystemDefault;
        c.remotePort = 80;
        // The host part is looked for from the ninth character on, which
        // skips "http://" and "https://" alike.
        const int slash = url.indexOf(QLatin1Char('/'), 8);
        if (slash >= 0 && url.size() > 8) {
            const QStringList parts = url.mid(8, slash - 8).split(QLatin1Char(':'));
            bool ok = false;
            const int port = parts.size() == 2 ? parts[1].trimmed().toInt(&ok) : 0;
            if (ok)
                c.remotePort = port;
        }
    }
    if (url.left(8).toLower() == QLatin1String("https://")) {
        c.protocol = TransferProtocol::Https;
        c.remotePort = 443;
    } else {
        c.protocol = TransferProtocol::Http;
    }
    return c;
}

TransferRequest::TransferRequest(QString url, QObject* parent)
    : QObject(parent), m_url(std::move(url))
{
}

TransferRequest::~TransferRequest() = default;

QString TransferRequest::getHeader(const QString& name) const
{
    const QByteArray wanted = name.trimmed().toLatin1();
    for (const auto& [key, value] : m_headers) {
        if (key.compare(wanted, Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(value);
    }
    return {};
}

QString TransferRequest::getHeader() const
{
    if (!m_hasHeaders)
        return {};
    QString block = m_statusLine;
    for (const auto& [key, value] : m_headers)
        block += QStringLiteral("\r\n") + QString::fromLatin1(key) + QStringLiteral(": ") + QString::fromLatin1(value);
    return block;
}

namespace {

// Awaits the next changed() of a request, a timeout, or the request's end of
// life. QCoro 0.8's signal awaiter resumes through a queued call that still
// runs after it has been disconnected, so a signal emitted twice before the
// first delivery resumes a finished wait; this one ignores late deliveries.
class ChangeAwaiter {
public:
    ChangeAwaiter(TransferRequest* request, std::chrono::milliseconds timeout)
        : m_request(request), m_timeout(timeout)
    {
    }

    bool await_ready() const noexcept { return m_request.isNull(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        auto state = std::make_shared<State>();
        m_state = state;
        state->handle = handle;
        // The timer is also the context of the connections, so that they
        // outlive a request deleted during the wait.
        auto* timer = new QTimer;
        timer->setSingleShot(true);
        state->timer = timer;
        auto wake = [state](bool timedOut) {
            if (state->fired)
                return;
            state->fired = true;
            state->timedOut = timedOut;
            for (const auto& c : state->connections)
                QObject::disconnect(c);
            state->timer->stop();
            state->timer->deleteLater();
            state->handle.resume();
        };
        state->connections << QObject::connect(m_request, &TransferRequest::changed, timer,
                                               [wake] { wake(false); }, Qt::QueuedConnection);
        state->connections << QObject::connect(m_request, &QObject::destroyed, timer,
                                               [wake] { wake(false); }, Qt::QueuedConnection);
        state->connections << QObject::connect(timer, &QTimer::timeout, timer, [wake] { wake(true); });
        if (m_timeout.count() >= 0)
            timer->start(m_timeout);
    }

    bool await_resume() const { return !m_state || !m_state->timedOut; }

private:
    struct State {
        std::coroutine_handle<> handle;
        bool fired = false;
        bool timedOut = false;
        QTimer* timer = nullptr;
        QList<QMetaObject::Connection> connections;
    };
    QPointer<TransferRequest> m_request;
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<State> m_state;
};

} // namespace

template<typename Done>
QCoro::Task<bool> TransferRequest::waitUntil(Done done, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    QPointer<TransferRequest> self(this);
    while (self && !done()) {
        std::chrono::milliseconds left{-1};
        if (timeout.count() >= 0) {
            left = timeout - std::chrono::milliseconds(clock.elapsed());
            if (left.count() <= 0)
                break;
        }
        if (!co_await ChangeAwaiter(this, left))
            break;
    }
    co_return !self.isNull();
}

QCoro::Task<bool> TransferRequest::waitForHeaders(std::chrono::milliseconds timeout)
{
    if (!co_await waitUntil([this] { return m_hasHeaders || m_finished; }, timeout))
        co_return false;
    co_return m_hasHeaders;
}

QCoro::Task<bool> TransferRequest::waitForFinished(std::chrono::milliseconds timeout)
{
    if (!co_await waitUntil([this] { return m_finished; }, timeout))
        co_return true;  // a deleted request has ended
    co_return m_finished;
}

QCoro::Task<bool> TransferRequest::waitForData(std::chrono::milliseconds timeout)
{
    if (!co_await waitUntil([this] { return m_finished || bytesWaiting() > 0; }, timeout))
        co_return false;
    co_return bytesWaiting() > 0;
}

void TransferRequest::setState(int state)
{
    m_state = state;
    emit stateChanged(state);
}

void TransferRequest::setHeaders(int httpStatus, const QString& statusLine,
                                 QList<QPair<QByteArray, QByteArray>> headers)
{
    m_httpStatus = httpStatus;
    m_statusLine = statusLine;
    m_headers = std::move(headers);
    m_hasHeaders = true;
}

void TransferRequest::setFailure(Failure failure, int code, const QString& info)
{
    if (m_failure != Failure::None)
        return;  // the first cause is the one reported
    m_failure = failure;
    m_responseCode = code;
    m_responseInfo = info;
}

void TransferRequest::finish()
{
    m_finished = true;
}

QCoro::Task<QByteArray> TransferEngine::openUrl(QString url, TransferOptions options)
{
    std::unique_ptr<TransferRequest> request = execute(url, options);
    request->keepBodyInMemory();
    co_await request->waitForFinished();
    if (!request->succeeded())
        co_return QByteArray();
    co_return request->takeBody();
}

void shareTransferCookies(QNetworkAccessManager& manager)
{
    QNetworkCookieJar* jar = transferEngine().cookieJar();
    if (!jar || manager.cookieJar() == jar)
        return;
    // setCookieJar takes the jar over; hand it straight back to its owner.
    QObject* owner = jar->parent();
    manager.setCookieJar(jar);
    jar->setParent(owner);
}

} // namespace dh
