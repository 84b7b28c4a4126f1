#include "HeadlessBrowser.h"

#include "html/Limits.h"

#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTimer>

namespace dh {

namespace {

// What a page reply may hold before the loader takes it out.
constexpr qint64 kPageReadChunk = 1024 * 1024;

QUrl userUrl(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QUrl(QStringLiteral("about:blank"));
    QUrl u(t, QUrl::TolerantMode);
    if (u.isValid() && !u.scheme().isEmpty() && !(u.scheme().size() == 1))  // not "c:/..."
        return u;
    return QUrl::fromUserInput(t);
}

bool isAbout(const QUrl& u)
{
    return u.scheme().compare(QLatin1String("about"), Qt::CaseInsensitive) == 0;
}

bool isScript(const QUrl& u)
{
    return u.scheme().compare(QLatin1String("javascript"), Qt::CaseInsensitive) == 0;
}

// Pages come from the web only: a page must not lead the browser to local
// files or other protocols.
bool isWeb(const QUrl& u)
{
    const QString s = u.scheme().toLower();
    return s == QLatin1String("http") || s == QLatin1String("https");
}

// application/x-www-form-urlencoded byte serialisation.
void appendUrlEncoded(QByteArray& out, const QByteArray& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : bytes) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*' || c == '-'
            || c == '.' || c == '_') {
            out += char(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
}

QString tooManyNodesText()
{
    return QStringLiteral("page larger than %1 nodes").arg(limits().maxPageNodes);
}

QString normaliseNewlines(QString s)
{
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    s.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return s;
}

} // namespace

HeadlessBrowser::HeadlessBrowser(QObject* parent)
    : Browser(parent), m_userAgent("Mozilla/5.0 (X11; Linux x86_64) DocHarvest/" DH_VERSION)
{
    m_nam.setCookieJar(new QNetworkCookieJar(&m_nam));
    m_nam.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_document = Document::blank(QUrl(QStringLiteral("about:blank")), DocumentOrigin{this, generation()});
}

HeadlessBrowser::~HeadlessBrowser()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

QNetworkCookieJar* HeadlessBrowser::cookieJar() const
{
    return m_nam.cookieJar();
}

QString HeadlessBrowser::locationUrl() const
{
    return m_document->URL();
}

QString HeadlessBrowser::locationName() const
{
    const QString t = m_document->title();
    return t.isEmpty() ? m_document->URL() : t;
}

void HeadlessBrowser::navigate(const QString& url)
{
    Request r;
    r.url = userUrl(url);
    load(r);
}

void HeadlessBrowser::load(const Request& request)
{
    start(request, HistoryMode::Push, -1);
}

bool HeadlessBrowser::goBack()
{
    if (!canGoBack())
        return false;
    start(m_history[size_t(m_historyIndex - 1)], HistoryMode::Keep, m_historyIndex - 1);
    return true;
}

bool HeadlessBrowser::goForward()
{
    if (!canGoForward())
        return false;
    start(m_history[size_t(m_historyIndex + 1)], HistoryMode::Keep, m_historyIndex + 1);
    return true;
}

void HeadlessBrowser::refresh()
{
    if (m_historyIndex < 0)
        return;
    start(m_history[size_t(m_historyIndex)], HistoryMode::Replace, m_historyIndex);
}

void HeadlessBrowser::stop()
{
    ++m_token;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_busy = false;
}

void HeadlessBrowser::start(const Request& request, HistoryMode mode, int historyIndex)
{
    if (isScript(request.url))
        return;  // no script engine here
    stop();
    if (request.url.isValid() && !isAbout(request.url) && !isWeb(request.url)) {
        // Refused like a failed load: the page shown stays, the wait ends.
        const QString shown = request.url.toString(QUrl::FullyEncoded);
        const quint64 token = m_token;
        m_busy = true;
        QTimer::singleShot(0, this, [this, shown, token] {
            if (token != m_token)
                return;
            m_busy = false;
            emit navigateError(shown, QStringLiteral("refused: only http and https addresses are opened"));
            emit statusTextChange(QStringLiteral("完成"));
            emitDocumentComplete(true, m_document->URL());
        });
        return;
    }
    const quint64 token = m_token;
    const QString shown = request.url.toString(QUrl::FullyEncoded);
    emit beforeNavigate(shown);
    m_busy = true;
    emit statusTextChange(request.url.toDisplayString());

    if (isAbout(request.url) || !request.url.isValid()) {
        // Completes on the next turn of the loop, like a real load, so that a
        // caller can start waiting after Navigate() returns.
        QTimer::singleShot(0, this, [this, request, mode, historyIndex, token] {
            showBlank(request, mode, historyIndex, token);
        });
        return;
    }

    QNetworkRequest nr(request.url);
    nr.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    nr.setMaximumRedirectsAllowed(20);
    nr.setHeader(QNetworkRequest::UserAgentHeader, m_userAgent);
    nr.setRawHeader("Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    nr.setRawHeader("Accept-Language", "zh-CN,zh;q=0.9,en;q=0.5");
    if (!request.referer.isEmpty())
        nr.setRawHeader("Referer", request.referer);
    QNetworkReply* reply;
    if (request.method == "POST") {
        nr.setHeader(QNetworkRequest::ContentTypeHeader,
                     request.contentType.isEmpty() ? QByteArray("application/x-www-form-urlencoded")
                                                   : request.contentType);
        reply = m_nam.post(nr, request.body);
    } else {
        reply = m_nam.get(nr);
    }
    m_reply = reply;
    // A page larger than the cap is cut off as soon as it shows itself, so a
    // hostile service cannot fill the memory; the load then counts as failed.
    // The body is taken out of the reply as it arrives, and the reply buffers
    // at most one chunk, so a body without a length cannot run far past the
    // cap in the network thread's queue before it is counted.
    auto tooLarge = std::make_shared<bool>(false);
    auto received = std::make_shared<QByteArray>();
    reply->setReadBufferSize(kPageReadChunk);
    // The announced length is checked first; the bytes taken so far are
    // counted after decompression, so a compressed body cannot slip past.
    connect(reply, &QNetworkReply::downloadProgress, this, [reply, tooLarge](qint64, qint64 total) {
        if (!*tooLarge && total > limits().maxPageBytes) {
            *tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, tooLarge, received] {
        if (*tooLarge)
            return;
        received->append(reply->readAll());
        if (received->size() > limits().maxPageBytes) {
            *tooLarge = true;
            *received = QByteArray();
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, request, mode, historyIndex, token, tooLarge, received] {
        reply->deleteLater();
        if (token != m_token)
            return;
        m_reply = nullptr;
        const QUrl finalUrl = reply->url().isValid() ? reply->url() : request.url;
        if (!*tooLarge) {
            received->append(reply->readAll());
            if (received->size() > limits().maxPageBytes) {
                *tooLarge = true;
                *received = QByteArray();
            }
        }
        if (*tooLarge) {
            m_status = 0;
            beginTopLevelNavigation();
            m_document = Document::blank(finalUrl, DocumentOrigin{this, generation()});
            commit(request, mode, historyIndex, finalUrl);
            emit navigateError(finalUrl.toString(QUrl::FullyEncoded),
                               QStringLiteral("page larger than %1 MB").arg(limits().maxPageBytes / (1024 * 1024)));
            m_busy = false;
            emit titleChange(locationName());
            emit statusTextChange(QStringLiteral("完成"));
            emitDocumentComplete(true, m_document->URL());
            return;
        }
        QByteArray body = std::move(*received);
        const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
        m_status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool failed = reply->error() != QNetworkReply::NoError;
        const QString errorText = reply->errorString();

        Request committed = request;
        if (finalUrl != request.url) {
            // After a redirect the page is a plain GET of the new address
            // (what browsers keep in their history for 301/302/303).
            committed.url = finalUrl;
            if (m_status != 307 && m_status != 308) {
                committed.method = "GET";
                committed.body.clear();
                committed.contentType.clear();
            }
        }
        beginTopLevelNavigation();
        m_document = Document::parse(body, finalUrl, contentType, DocumentOrigin{this, generation()});
        body = QByteArray();
        commit(committed, mode, historyIndex, finalUrl);
        if (failed)
            emit navigateError(finalUrl.toString(QUrl::FullyEncoded), errorText);
        else if (m_document->tooManyNodes())
            emit navigateError(finalUrl.toString(QUrl::FullyEncoded), tooManyNodesText());
        m_busy = false;
        emit titleChange(locationName());
        emit statusTextChange(QStringLiteral("完成"));
        emitDocumentComplete(true, m_document->URL());
    });
}

void HeadlessBrowser::showBlank(const Request& request, HistoryMode mode, int historyIndex, quint64 token)
{
    if (token != m_token)
        return;
    const QUrl url = request.url.isValid() ? request.url : QUrl(QStringLiteral("about:blank"));
    m_status = 0;
    beginTopLevelNavigation();
    m_document = Document::blank(url, DocumentOrigin{this, generation()});
    commit(request, mode, historyIndex, url);
    m_busy = false;
    emit titleChange(locationName());
    emit statusTextChange(QStringLiteral("完成"));
    emitDocumentComplete(true, m_document->URL());
}

void HeadlessBrowser::commit(const Request& request, HistoryMode mode, int historyIndex, const QUrl& finalUrl)
{
    Request entry = request;
    entry.url = finalUrl;
    switch (mode) {
    case HistoryMode::Push:
        if (m_historyIndex + 1 < int(m_history.size()))
            m_history.erase(m_history.begin() + (m_historyIndex + 1), m_history.end());
        m_history.push_back(entry);
        m_historyIndex = int(m_history.size()) - 1;
        break;
    case HistoryMode::Replace:
    case HistoryMode::Keep:
        if (historyIndex >= 0 && historyIndex < int(m_history.size())) {
            m_history[size_t(historyIndex)] = entry;
            m_historyIndex = historyIndex;
        }
        break;
    }
}

QCoro::Task<DocumentPtr> HeadlessBrowser::document()
{
    // co_return of a member would move it out of the browser: return a copy.
    DocumentPtr d = m_document;
    co_return d;
}

bool HeadlessBrowser::elementSetValue(const Document& doc, int, const QString&)
{
    // The value lives in the snapshot (Element::setValue wrote it); forms
    // read it from there when they are submitted.
    return ownsCurrent(doc);
}

bool HeadlessBrowser::elementClick(const Document& doc, int node)
{
    if (!ownsCurrent(doc))
        return false;
    const Element el = doc.elementAt(node);
    if (el.isNull())
        return false;
    const QString tag = el.tagName();

    if (tag == QLatin1String("INPUT") || tag == QLatin1String("BUTTON")) {
        if (el.disabled())
            return false;
        const QString type = el.type();
        if (tag == QLatin1String("INPUT") && type == QLatin1String("checkbox")) {
            doc.setCheckedOverride(node, !el.checked());
            return true;
        }
        if (tag == QLatin1String("INPUT") && type == QLatin1String("radio")) {
            const Element form = el.form();
            for (const Element& other : doc.getElementsByName(el.name()))
                if (other.tagName() == QLatin1String("INPUT") && other.type() == QLatin1String("radio")
                    && other.form() == form)
                    doc.setCheckedOverride(other.nodeIndex(), false);
            doc.setCheckedOverride(node, true);
            return true;
        }
        if (type == QLatin1String("submit") || type == QLatin1String("image")) {
            const Element form = el.form();
            if (form.isNull())
                return false;
            return submitForm(doc, form.nodeIndex(), node);
        }
        return false;
    }

    // Clicks bubble: a click on something inside a link follows the link.
    for (Element e = el; !e.isNull(); e = e.parentElement()) {
        const QString t = e.tagName();
        if ((t == QLatin1String("A") || t == QLatin1String("AREA")) && e.hasAttribute(QStringLiteral("href"))) {
            const QUrl target(e.href());
            if (!target.isValid() || !isWeb(target))
                return false;
            Request r;
            r.url = target;
            r.referer = doc.url().toString(QUrl::FullyEncoded).toUtf8();
            load(r);
            return true;
        }
    }
    return false;
}

bool HeadlessBrowser::submitForm(const Document& doc, int formNode, int submitterNode)
{
    const Element form = doc.elementAt(formNode);
    const Element submitter = submitterNode >= 0 ? doc.elementAt(submitterNode) : Element();
    auto pick = [&](const char* submitterAttr, const char* formAttr) {
        if (!submitter.isNull() && submitter.hasAttribute(QString::fromLatin1(submitterAttr)))
            return submitter.getAttribute(QString::fromLatin1(submitterAttr));
        return form.getAttribute(QString::fromLatin1(formAttr));
    };
    const QString method = pick("formmethod", "method").trimmed().toLower();
    const QString enctype = pick("formenctype", "enctype").trimmed().toLower();
    const QString action = pick("formaction", "action").trimmed();
    QUrl target = action.isEmpty() ? doc.url() : doc.baseUrl().resolved(QUrl(action, QUrl::TolerantMode));
    if (!target.isValid() || !isWeb(target))
        return false;

    // Encoding: the form's accept-charset if usable, else the page's.
    QString charset = doc.characterSet();
    const QString accept = form.getAttribute(QStringLiteral("accept-charset")).simplified().section(QLatin1Char(' '), 0, 0);
    if (!accept.isEmpty() && QStringEncoder(accept.toLatin1().constData()).isValid())
        charset = accept;
    if (charset.startsWith(QLatin1String("UTF-16"), Qt::CaseInsensitive))
        charset = QStringLiteral("UTF-8");
    QStringEncoder encoder(charset.toLatin1().constData());
    if (!encoder.isValid())
        encoder = QStringEncoder(QStringEncoder::Utf8);

    // The entry list: the form's controls in tree order.
    std::vector<std::pair<QString, QString>> entries;
    const ElementCollection all = doc.getElementsByTagName(QStringLiteral("*"));
    for (const Element& c : all) {
        const QString tag = c.tagName();
        if (tag != QLatin1String("INPUT") && tag != QLatin1String("BUTTON") && tag != QLatin1String("SELECT")
            && tag != QLatin1String("TEXTAREA"))
            continue;
        if (!(c.form() == form) || c.disabled())
            continue;
        const QString type = c.type();
        const QString name = c.name();
        const bool isButton = tag == QLatin1String("BUTTON")
                              || (tag == QLatin1String("INPUT")
                                  && (type == QLatin1String("submit") || type == QLatin1String("image")
                                      || type == QLatin1String("reset") || type == QLatin1String("button")));
        if (isButton && !(c == submitter))
            continue;
        if (tag == QLatin1String("INPUT") && type == QLatin1String("image")) {
            const QString prefix = name.isEmpty() ? QString() : name + QLatin1Char('.');
            entries.emplace_back(prefix + QLatin1Char('x'), QStringLiteral("0"));
            entries.emplace_back(prefix + QLatin1Char('y'), QStringLiteral("0"));
            continue;
        }
        if (name.isEmpty())
            continue;
        if ((type == QLatin1String("checkbox") || type == QLatin1String("radio")) && !c.checked())
            continue;
        if (tag == QLatin1String("SELECT")) {
            const auto& ov = doc.valueOverrides();
            if (ov.find(c.nodeIndex()) != ov.end()) {
                entries.emplace_back(name, c.value());
                continue;
            }
            bool any = false;
            for (const Element& o : c.getElementsByTagName(QStringLiteral("option")))
                if (o.checked() && !o.disabled()) {
                    entries.emplace_back(name, o.value());
                    any = true;
                    if (type == QLatin1String("select-one"))
                        break;
                }
            if (!any && type == QLatin1String("select-one")) {
                const QString v = c.value();
                if (!c.getElementsByTagName(QStringLiteral("option")).isEmpty())
                    entries.emplace_back(name, v);
            }
            continue;
        }
        if (type == QLatin1String("file")) {
            entries.emplace_back(name, QString());
            continue;
        }
        QString v = c.value();
        if (tag == QLatin1String("TEXTAREA"))
            v = normaliseNewlines(v);
        entries.emplace_back(name, v);
    }

    Request r;
    r.referer = doc.url().toString(QUrl::FullyEncoded).toUtf8();
    QByteArray data;
    if (method == QLatin1String("post") && enctype == QLatin1String("multipart/form-data")) {
        const QByteArray boundary = "----DocHarvestForm" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        for (const auto& [n, v] : entries) {
            data += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"";
            data += QByteArray(encoder.encode(n)).replace('"', "%22");
            data += "\"\r\n\r\n";
            data += QByteArray(encoder.encode(v));
            data += "\r\n";
        }
        data += "--" + boundary + "--\r\n";
        r.contentType = "multipart/form-data; boundary=" + boundary;
    } else {
        for (const auto& [n, v] : entries) {
            if (!data.isEmpty())
                data += '&';
            appendUrlEncoded(data, QByteArray(encoder.encode(n)));
            data += '=';
            appendUrlEncoded(data, QByteArray(encoder.encode(v)));
        }
        r.contentType = "application/x-www-form-urlencoded";
    }

    if (method == QLatin1String("post")) {
        r.method = "POST";
        r.body = data;
        r.url = target;
    } else {
        target.setFragment(QString());
        target.setQuery(QString::fromLatin1(data), QUrl::StrictMode);
        r.url = target;
        r.contentType.clear();
    }
    load(r);
    return true;
}

} // namespace dh
