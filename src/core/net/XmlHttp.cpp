#include "net/XmlHttp.h"

#include "ports/Transfer.h"

#include <curl/curl.h>

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include <coroutine>
#include <memory>

namespace dh {

// ---------------------------------------------------------------- descriptions

const QStringList& statusDescriptions()
{
    static const QStringList table = [] {
        struct Row {
            int status;
            const char* text;
        };
        static const Row rows[] = {
        {100, "客户必须继续发出请求"},
        {101, "客户要求服务器根据请求转换HTTP协议版本"},
        {200, "交易成功"},
        {201, "提示知道新文件的URL"},
        {202, "接受和处理?但处理未完成"},
        {203, "返回信息不确定或不完整"},
        {204, "请求收到，但返回信息为空"},
        {205, "服务器完成了请求，用户代理必须复位当前已经浏览过的文件"},
        {206, "服务器已经完成了部分用户的GET请求"},
        {300, "请求的资源可在多处得到"},
        {301, "删除请求数据"},
        {302, "在其他地址发现了请求数据"},
        {303, "建议客户访问其他URL或访问方式"},
        {304, "客户端已经执行了GET，但文件未变化"},
        {305, "请求的资源必须从服务器指定的地址得到"},
        {306, "前一版本HTTP中使用的代码，现行版本中不再使用"},
        {307, "申明请求的资源临时性删除"},
        {400, "错误请求，如语法错误"},
        {401, "请求授权失败"},
        {402, "保留有效ChargeTo头响应"},
        {403, "请求不允许"},
        {404, "没有发现文件?查询或URl"},
        {405, "用户在Request -Line字段定义的方法不允许"},
        {406, "根据用户发送的Accept拖，请求资源不可访问"},
        {407, "类似401，用户必须首先在代理服务器上得到授权"},
        {408, "客户端没有在用户指定的饿时间内完成请求"},
        {409, "对当前资源状态，请求不能完成"},
        {410, "服务器上不再有此资源且无进一步的参考地址"},
        {411, "服务器拒绝用户定义的Content -Length属性请求"},
        {412, "一个或多个请求头字段在当前请求中错误"},
        {413, "请求的资源大于服务器允许的大小"},
        {414, "请求的资源URL长于服务器允许的长度"},
        {415, "请求资源不支持请求项目格式"},
        {416, "请求中包含Range请求头字段，在当前请求资源范围内没有range指示值，请求也不包含If-Range请求头字段"},
        {417, "服务器不满足请求Expect头字段指定的期望值，如果是代理服务器，可能是下一级服务器不能满足请求"},
        {500, "服务器产生内部错误"},
        {501, "服务器不支持请求的函数"},
        {502, "服务器暂时不可用，有时是为了防止发生系统过载"},
        {503, "服务器过载或暂停维修"},
        {504, "关口过载，服务器使用另一个关口或服务来响应用户，等待时间设定值较长"},
        {505, "服务器不支持或拒绝支请求头中指定的HTTP版本"},
        };
        QStringList t;
        t.reserve(601);
        for (int i = 0; i <= 600; ++i)
            t << QString();
        for (const Row& r : rows)
            t[r.status] = QString::fromUtf8(r.text);
        return t;
    }();
    return table;
}

QString statusDescription(int status)
{
    if (status < 0 || status > 600)
        return {};
    return statusDescriptions().at(status);
}

// ---------------------------------------------------------------- helpers

namespace {

// RFC 7230 token characters: what a method or a header name may consist of.
bool isToken(const QString& s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s) {
        const ushort u = c.unicode();
        if (u <= 32 || u >= 127)
            return false;
        if (QStringLiteral("\"(),/:;<=>?@[\\]{}").contains(c))
            return false;
    }
    return true;
}

// A failure of the transfer layer as a status number above 600.
int failureStatus(const TransferRequest& r)
{
    switch (r.failure()) {
    case TransferRequest::Failure::None:
        return 0;
    case TransferRequest::Failure::Cancelled:
        return xmlHttpStatusCancelled;
    case TransferRequest::Failure::NoResponse:
    case TransferRequest::Failure::Stalled:
    case TransferRequest::Failure::TooSlow:
        return xmlHttpStatusTimeout;
    case TransferRequest::Failure::Encoded:
        return xmlHttpStatusConnectionAborted;
    case TransferRequest::Failure::DiskWrite:
        return xmlHttpStatusCancelled;
    case TransferRequest::Failure::Tls:
    case TransferRequest::Failure::Network:
        break;
    }
    if (r.failure() == TransferRequest::Failure::Tls)
        return xmlHttpStatusSecureFailure;
    // The transfer layer reports libcurl's CURLcode numbers.
    switch (r.responseCode()) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return xmlHttpStatusNameNotResolved;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case transferCodeIncomplete:
        return xmlHttpStatusConnectionAborted;
    case CURLE_OPERATION_TIMEDOUT:
        return xmlHttpStatusTimeout;
    default:
        return xmlHttpStatusCannotConnect;
    }
}

} // namespace

// ---------------------------------------------------------------- control

XmlHttpRequest::XmlHttpRequest(QObject* parent, TransferEngine* engine) : QObject(parent), m_engine(engine)
{
}

XmlHttpRequest::~XmlHttpRequest()
{
    discardRequest();
}

void XmlHttpRequest::discardRequest()
{
    ++m_generation;
    m_watching = false;
    if (!m_request)
        return;
    TransferRequest* r = std::exchange(m_request, nullptr);
    r->disconnect(this);
    if (r->stillExecuting())
        r->cancel();
    // Later, not now: we may be running inside one of its signals' effects.
    r->deleteLater();
}

bool XmlHttpRequest::open(const QString& method, const QString& url, const QString& savePath)
{
    m_downOK = false;
    const QString verb = method.trimmed().toUpper();
    const QUrl u(url.trimmed(), QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!isToken(verb) || !u.isValid() || u.isRelative() || u.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;

    discardRequest();
    m_opened = true;
    m_sent = false;
    m_complete = false;
    m_tooLarge = false;
    m_method = verb;
    m_url = url.trimmed();
    m_savePath = savePath;
    m_headerLines.clear();
    m_body.clear();
    m_failureStatus = 0;
    m_failureText.clear();
    return true;
}

void XmlHttpRequest::setRequestHeader(const QString& name, const QString& value)
{
    if (!m_opened || m_sent)
        return;
    const QString n = name.trimmed();
    if (!isToken(n) || value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'))
        || value.contains(QChar(0)))
        return;
    m_headerLines += n.toLatin1() + ": " + value.trimmed().toUtf8() + "\r\n";
}

void XmlHttpRequest::send(const QString& body)
{
    if (!m_opened || m_sent)
        return;
    m_sent = true;
    TransferOptions o;
    o.method = m_method;
    o.headerLines = m_headerLines;
    o.body = body.toUtf8();
    TransferEngine& engine = m_engine ? *m_engine : transferEngine();
    m_request = engine.execute(m_url, o).release();
    m_request->keepBodyInMemory();
    m_watching = true;
    const quint64 gen = m_generation;
    // Queued: the host hears of progress on a later turn of the loop, never
    // from inside the transfer layer.
    connect(m_request, &TransferRequest::headersReceived, this, [this, gen] { onProgress(gen); },
            Qt::QueuedConnection);
    connect(m_request, &TransferRequest::progress, this, [this, gen] { onProgress(gen); },
            Qt::QueuedConnection);
    connect(m_request, &TransferRequest::finished, this, [this, gen] { onFinished(gen); },
            Qt::QueuedConnection);
}

void XmlHttpRequest::abort()
{
    const bool wasWatching = m_watching;
    discardRequest();
    m_sent = true;  // nothing left to send until the next open
    m_complete = false;
    m_body.clear();
    m_failureStatus = 0;
    m_failureText.clear();
    // Lets a coroutine waiting for the end go on (it is queued to it).
    if (wasWatching)
        emit requestEnded();
}

int XmlHttpRequest::readyState() const
{
    if (m_complete)
        return 4;
    if (!m_opened)
        return 0;
    if (!m_request)
        return m_sent ? 0 : 1;  // aborted, or opened and not sent yet
    if (!m_request->hasHeaders())
        return 1;
    return m_request->bytesRead() > 0 ? 3 : 2;
}

int XmlHttpRequest::status() const
{
    if (m_failureStatus)
        return m_failureStatus;
    if (m_request && m_request->hasHeaders())
        return m_request->httpStatus();
    return 0;
}

QString XmlHttpRequest::statusText() const
{
    if (m_failureStatus)
        return m_failureText;
    if (!m_request || !m_request->hasHeaders())
        return {};
    // "HTTP/1.1 404 Not Found" -> "Not Found"
    const QString line = m_request->getHeader().section(QStringLiteral("\r\n"), 0, 0);
    const QStringList parts = line.split(QLatin1Char(' '));
    return parts.size() > 2 ? parts.mid(2).join(QLatin1Char(' ')) : QString();
}

QString XmlHttpRequest::responseHeader(const QString& name) const
{
    if (!m_request || !m_request->hasHeaders())
        return {};
    return m_request->getHeader(name);
}

QString XmlHttpRequest::allResponseHeaders() const
{
    if (!m_request || !m_request->hasHeaders())
        return {};
    const QString block = m_request->getHeader();
    const int eol = block.indexOf(QStringLiteral("\r\n"));
    return eol < 0 ? QString() : block.mid(eol + 2) + QStringLiteral("\r\n");
}

QString XmlHttpRequest::responseText() const
{
    if (m_body.isEmpty())
        return {};
    if (m_body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(m_body.mid(3));
    if (m_body.startsWith("\xFF\xFE") || m_body.startsWith("\xFE\xFF")) {
        QStringDecoder d(QStringDecoder::Utf16, QStringDecoder::Flag::ConvertInitialBom);
        return d.decode(m_body);
    }
    const QString type = responseHeader(QStringLiteral("Content-Type"));
    const int at = type.indexOf(QLatin1String("charset="), 0, Qt::CaseInsensitive);
    if (at >= 0) {
        QString charset = type.mid(at + 8).section(QLatin1Char(';'), 0, 0).trimmed();
        charset.remove(QLatin1Char('"'));
        QStringDecoder d(charset.toLatin1().constData());
        if (d.isValid())
            return d.decode(m_body);
    }
    return QString::fromUtf8(m_body);
}

void XmlHttpRequest::onProgress(quint64 gen)
{
    if (gen != m_generation || !m_request || m_complete)
        return;
    if (m_maxBody > 0 && m_request->bytesRead() > m_maxBody && m_request->stillExecuting()) {
        // Ends through the finished signal with a cancel failure.
        m_tooLarge = true;
        m_request->cancel();
        return;
    }
    emit onReadyStateChange();
}

void XmlHttpRequest::onFinished(quint64 gen)
{
    if (gen != m_generation || !m_request || m_complete)
        return;
    QPointer<XmlHttpRequest> self(this);
    emit onReadyStateChange();
    if (!self || gen != m_generation)
        return;

    m_complete = true;
    m_watching = false;
    m_downOK = true;
    if (!m_request->succeeded()) {
        m_failureStatus = failureStatus(*m_request);
        m_failureText = m_tooLarge ? QStringLiteral("response body too large") : m_request->responseInfo();
    } else {
        m_body = m_request->takeBody();
    }

    const int code = status();
    if (code != 200) {
        if (code >= 0 && code <= 600) {
            emit dataFailed(statusDescription(code));
            if (!self || gen != m_generation)
                return;
        }
        emit requestEnded();
        return;
    }
    saveBody();
    emit dataArrived();
    if (!self || gen != m_generation)
        return;
    emit requestEnded();
}

void XmlHttpRequest::saveBody()
{
    if (m_savePath.isEmpty() || m_body.isEmpty())
        return;
    // Written beside the target and moved over it at the end, so that a
    // failed write leaves any earlier file whole. A failure is ignored.
    QSaveFile f(m_savePath);
    if (!f.open(QIODevice::WriteOnly))
        return;
    if (f.write(m_body) != m_body.size()) {
        f.cancelWriting();
        return;
    }
    f.commit();
}

// ---------------------------------------------------------------- waiting

namespace {

// Resumes on requestEnded or on the control's destruction, whichever comes
// first, exactly once. Both arrive queued, so the coroutine never runs inside
// the control's own signal emission or destructor.
class EndAwaiter {
public:
    explicit EndAwaiter(XmlHttpRequest* control) : m_control(control) {}

    bool await_ready() const noexcept { return m_control.isNull(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        auto state = std::make_shared<State>();
        state->handle = handle;
        auto* context = new QObject;  // outlives the control
        state->context = context;
        auto wake = [state] {
            if (state->fired)
                return;
            state->fired = true;
            for (const auto& c : state->connections)
                QObject::disconnect(c);
            state->context->deleteLater();
            state->handle.resume();
        };
        state->connections << QObject::connect(m_control, &XmlHttpRequest::requestEnded, context, wake,
                                               Qt::QueuedConnection);
        state->connections << QObject::connect(m_control, &QObject::destroyed, context, wake,
                                               Qt::QueuedConnection);
    }

    void await_resume() const noexcept {}

private:
    struct State {
        std::coroutine_handle<> handle;
        bool fired = false;
        QObject* context = nullptr;
        QList<QMetaObject::Connection> connections;
    };
    QPointer<XmlHttpRequest> m_control;
};

} // namespace

QCoro::Task<bool> waitForRequestEnd(XmlHttpRequest* control)
{
    QPointer<XmlHttpRequest> c(control);
    if (!c || !c->isWatching())
        co_return false;
    co_await EndAwaiter(control);
    co_return !c.isNull();
}

} // namespace dh
