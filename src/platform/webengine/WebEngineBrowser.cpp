#include "WebEngineBrowser.h"

#include "html/Limits.h"
#include "app/Timings.h"
#include "html/DocumentTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

namespace dh {

// The page: script dialogs and console errors obey Silent, new windows stay
// in this page, and a script's request to close is refused.
class WebEngineBrowserPage : public QWebEnginePage {
public:
    WebEngineBrowserPage(QWebEngineProfile* profile, WebEngineBrowser* browser, QObject* parent)
        : QWebEnginePage(profile, parent), m_browser(browser)
    {
    }
    QPointer<WebEngineBrowser> m_browser;

protected:
    bool silent() const { return m_browser && m_browser->silent(); }

    void javaScriptAlert(const QUrl& origin, const QString& msg) override
    {
        if (silent()) {
            ++m_browser->m_suppressedDialogs;
            return;
        }
        QWebEnginePage::javaScriptAlert(origin, msg);
    }
    bool javaScriptConfirm(const QUrl& origin, const QString& msg) override
    {
        if (silent()) {
            ++m_browser->m_suppressedDialogs;
            return false;
        }
        return QWebEnginePage::javaScriptConfirm(origin, msg);
    }
    bool javaScriptPrompt(const QUrl& origin, const QString& msg, const QString& def, QString* result) override
    {
        if (silent()) {
            ++m_browser->m_suppressedDialogs;
            return false;
        }
        return QWebEnginePage::javaScriptPrompt(origin, msg, def, result);
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override
    {
        if (silent())
            return;
        QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        // A page must not lead the browser to local files or other protocols:
        // pages are web pages (about:blank and the program's own data: pages
        // aside, which are never reached through a link).
        const QString scheme = url.scheme().toLower();
        const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https")
                         || scheme == QLatin1String("about")
                         || (scheme == QLatin1String("data") && type != NavigationTypeLinkClicked
                             && type != NavigationTypeFormSubmitted && type != NavigationTypeRedirect);
        if (isMainFrame && !web) {
            if (m_browser)
                QMetaObject::invokeMethod(
                    m_browser,
                    [b = QPointer<WebEngineBrowser>(m_browser), shown = url.toString(QUrl::FullyEncoded)] {
                        if (b)
                            b->refuseNavigation(shown);
                    },
                    Qt::QueuedConnection);
            return false;
        }
        if (isMainFrame && m_browser)
            emit m_browser->beforeNavigate(url.toString(QUrl::FullyEncoded));
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }
    QWebEnginePage* createWindow(WebWindowType) override
    {
        // newWindowRequested has already redirected the request here.
        return nullptr;
    }
};

namespace {

QString jsLiteral(const QJsonValue& v)
{
    QJsonArray wrap{v};
    QByteArray json = QJsonDocument(wrap).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

} // namespace

void WebEngineBrowser::prepareEnvironment()
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

QString WebEngineBrowser::cachePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
           + QStringLiteral("/DocHarvest/webengine");
}

QString WebEngineBrowser::httpCacheDirectory()
{
    // Chromium keeps the HTTP cache in a "Cache" folder below the cache
    // path (newer versions add "Cache_Data" below that).
    const QString base = profile()->cachePath();
    for (const QString& sub : {QStringLiteral("/Cache/Cache_Data"), QStringLiteral("/Cache")}) {
        if (QDir(base + sub).exists())
            return base + sub;
    }
    return base + QStringLiteral("/Cache");
}

QWebEngineProfile* WebEngineBrowser::profile()
{
    static QPointer<QWebEngineProfile> p;
    if (!p) {
        p = new QWebEngineProfile(QStringLiteral("DocHarvest"), QCoreApplication::instance());
        p->setCachePath(cachePath());
        p->setPersistentStoragePath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                    + QStringLiteral("/DocHarvest/webengine"));
        p->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        p->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
    return p;
}

WebEngineBrowser::WebEngineBrowser(QObject* parent) : Browser(parent)
{
    m_view = new QWebEngineView;
    m_page = new WebEngineBrowserPage(profile(), this, m_view);
    m_view->setPage(m_page);
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    m_document = Document::blank(QUrl(QStringLiteral("about:blank")), DocumentOrigin{this, generation()});

    connect(m_page, &QWebEnginePage::loadStarted, this, [this] {
        beginTopLevelNavigation();
        m_busy = true;
        if (m_page)
            emit statusTextChange(m_page->requestedUrl().toDisplayString());
    });
    // Chromium's own name for a failure (ERR_CONNECTION_REFUSED) says more
    // than loadFinished's false.
    connect(m_page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            m_loadFailure.clear();
        else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
            m_loadFailure = info.errorString();
    });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        beginTopLevelNavigation();
        completeLoad(ok, generation());
    });
    connect(m_page, &QWebEnginePage::titleChanged, this, &Browser::titleChange);
    // The status bar is read: keywords in an address show as typed, not percent-encoded.
    connect(m_page, &QWebEnginePage::linkHovered, this,
            [this](const QString& link) { emit statusTextChange(QUrl(link).toDisplayString()); });
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, &Browser::windowClosing);
    connect(m_page, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
        // No second window: the request is followed in this page.
        const QUrl url = request.requestedUrl();
        const QString text = url.toString(QUrl::FullyEncoded);
        emit newWindowRequested(text);
        if (!text.trimmed().isEmpty() && text.trimmed().compare(QLatin1String("about:blank"), Qt::CaseInsensitive) != 0)
            navigate(text);
    });
}

WebEngineBrowser::~WebEngineBrowser()
{
    if (m_page) {
        m_page->m_browser = nullptr;
        m_page->disconnect(this);
    }
    if (m_view && !m_view->parent()) {
        // The page goes first, while its view is still whole.
        delete m_page;
        delete m_view;
    }
}

QWebEnginePage* WebEngineBrowser::page() const
{
    return m_page;
}

void WebEngineBrowser::navigate(const QString& url)
{
    if (!m_page)
        return;
    const QString t = url.trimmed();
    QUrl u = t.isEmpty() ? QUrl(QStringLiteral("about:blank")) : QUrl(t, QUrl::TolerantMode);
    if (!u.isValid() || u.scheme().isEmpty())
        u = QUrl::fromUserInput(t);
    m_busy = true;
    m_page->load(u);
}

QString WebEngineBrowser::locationUrl() const
{
    return m_page ? m_page->url().toString(QUrl::FullyEncoded) : QString();
}

QString WebEngineBrowser::locationName() const
{
    return m_page ? m_page->title() : QString();
}

void WebEngineBrowser::setSilent(bool silent)
{
    Browser::setSilent(silent);
}

bool WebEngineBrowser::canGoBack() const
{
    return m_page && m_page->history()->canGoBack();
}

bool WebEngineBrowser::canGoForward() const
{
    return m_page && m_page->history()->canGoForward();
}

bool WebEngineBrowser::goBack()
{
    if (!canGoBack())
        return false;
    m_busy = true;
    m_page->history()->back();
    return true;
}

bool WebEngineBrowser::goForward()
{
    if (!canGoForward())
        return false;
    m_busy = true;
    m_page->history()->forward();
    return true;
}

void WebEngineBrowser::refresh()
{
    if (!m_page)
        return;
    m_busy = true;
    m_page->triggerAction(QWebEnginePage::Reload);
}

void WebEngineBrowser::stop()
{
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
    m_busy = false;
}

QCoro::Task<QVariant> WebEngineBrowser::evaluate(const QString& script, std::chrono::milliseconds timeout)
{
    if (!m_page)
        co_return QVariant();
    struct Slot {
        bool done = false;
        QVariant value;
    };
    auto slot = std::make_shared<Slot>();
    // The answer, the page going away and the time-out each wake the wait.
    Wakeup wake;
    auto answered = std::make_shared<WaitSignal>();
    wake.listen(answered.get(), &WaitSignal::raised);
    wake.listen(this, &QObject::destroyed);
    wake.listen(m_page.data(), &QObject::destroyed);
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                          [slot, weak = std::weak_ptr<WaitSignal>(answered)](const QVariant& v) {
        slot->value = v;
        slot->done = true;
        if (const auto a = weak.lock())
            a->raise();
    });
    QPointer<WebEngineBrowser> self(this);
    QElapsedTimer t;
    t.start();
    while (!slot->done && self && self->m_page && t.elapsed() < timeout.count()) {
        wake.wakeAfter(timeout - std::chrono::milliseconds(t.elapsed()));
        co_await wake.next();
    }
    co_return slot->value;
}

QCoro::Task<DocumentPtr> WebEngineBrowser::document()
{
    QPointer<WebEngineBrowser> self(this);
    const quint64 gen = generation();
    // A page larger than the cap is not handed over (its source alone would
    // cost many times its size once parsed): the snapshot is then empty.
    const QVariant r = co_await evaluate(QStringLiteral(
        "(function(){var d=document;"
        "var dt=d.doctype?'<!DOCTYPE '+d.doctype.name+'>':'';"
        "var h=dt+(d.documentElement?d.documentElement.outerHTML:'');"
        "if(h.length>%1)return [d.URL, d.characterSet||'UTF-8', null, h.length];"
        "return [d.URL, d.characterSet||'UTF-8', h];})()").arg(limits().maxPageBytes));
    if (!self)
        co_return Document::blank();
    const QVariantList parts = r.toList();
    if (parts.size() == 4 && gen == generation()) {
        auto doc = Document::blank(QUrl(parts[0].toString()), DocumentOrigin{this, gen});
        m_document = doc;
        emit navigateError(parts[0].toString(), QStringLiteral("page larger than %1 MB")
                                                    .arg(limits().maxPageBytes / (1024 * 1024)));
        co_return doc;
    }
    if (parts.size() != 3 || gen != generation()) {
        // No answer (page gone or busy) or the page changed meanwhile: the
        // last good snapshot is the best there is.
        DocumentPtr last = m_document;  // a copy: co_return would move the member
        co_return last;
    }
    auto doc = Document::fromHtml(parts[2].toString(), QUrl(parts[0].toString()), parts[1].toString(),
                                  DocumentOrigin{this, gen});
    m_document = doc;
    // Markup that would cost the parser too much memory fails like a page
    // over the size cap.
    if (doc->tooManyNodes())
        emit navigateError(parts[0].toString(), QStringLiteral("page larger than %1 nodes").arg(limits().maxPageNodes));
    co_return doc;
}

QCoro::Task<void> WebEngineBrowser::completeLoad(bool ok, quint64 gen)
{
    QPointer<WebEngineBrowser> self(this);
    DocumentPtr doc = co_await document();
    if (!self || gen != generation())
        co_return;  // a newer load took over; it will complete itself
    Q_UNUSED(doc);
    if (!ok)
        emit navigateError(locationUrl(), m_loadFailure.isEmpty() ? QStringLiteral("load failed") : m_loadFailure);
    m_busy = false;
    emit statusTextChange(QStringLiteral("完成"));
    emitDocumentComplete(true, locationUrl());
}

void WebEngineBrowser::refuseNavigation(const QString& url)
{
    // Told like a failed load, so that a wait for the page ends at once.
    emit navigateError(url, QStringLiteral("refused: only http and https addresses are opened"));
    if (m_busy && m_page && !m_page->isLoading()) {
        m_busy = false;
        emit statusTextChange(QStringLiteral("完成"));
        emitDocumentComplete(true, locationUrl());
    }
}

bool WebEngineBrowser::runOnElement(const Document& doc, int node, const QString& body)
{
    if (!m_page || !ownsCurrent(doc))
        return false;
    const Element el = doc.elementAt(node);
    if (el.isNull())
        return false;
    QJsonArray path;
    for (int i : el.indexPath())
        path.append(i);
    const QString localName = doc.tree().nodes[size_t(node)].text;
    const QString script =
        QStringLiteral("(function(p,n){var e=document.documentElement;"
                       "for(var i=0;i<p.length&&e;i++){e=e.children[p[i]];}"
                       "if(!e||e.localName!==n)return false;%1;return true;})(%2,%3)")
            .arg(body, jsLiteral(path), jsLiteral(localName));
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld);
    return true;
}

bool WebEngineBrowser::elementClick(const Document& doc, int node)
{
    return runOnElement(doc, node, QStringLiteral("e.click()"));
}

bool WebEngineBrowser::elementSetValue(const Document& doc, int node, const QString& value)
{
    return runOnElement(doc, node,
                        QStringLiteral("e.value=%1;"
                                       "e.dispatchEvent(new Event('input',{bubbles:true}));"
                                       "e.dispatchEvent(new Event('change',{bubbles:true}))")
                            .arg(jsLiteral(value)));
}

} // namespace dh
