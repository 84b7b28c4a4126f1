// WebEngineBrowser against the demo service: loading and documentComplete,
// the same extraction as the headless browser, silent script dialogs,
// new-window requests staying in the page, refused closing, element actions.
#include "GuiTestMain.h"

#include "../integration/browser/Extraction.h"
#include "app/Timings.h"
#include "demo/DemoSearch.h"
#include "demo/DemoService.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "platform/headless/HeadlessBrowser.h"

#include <QCoroTask>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QDirIterator>
#include <QSignalSpy>

using namespace dh;
using namespace std::chrono_literals;

namespace {

bool load(Browser& b, const QString& url)
{
    return QCoro::waitFor(navigateAndWait(b, url, 30s));
}

DocumentPtr snapshot(Browser& b)
{
    return QCoro::waitFor(b.document());
}

QString describe(const test::PageExtraction& e)
{
    QStringList out;
    out << e.url << QString::number(e.verification);
    for (const auto& l : e.links)
        out << l.text + QStringLiteral(" -> ") + l.href;
    out << e.pagerTexts.join(QLatin1Char('|')) << e.pagerHrefs.join(QLatin1Char('|'));
    return out.join(QLatin1Char('\n'));
}

} // namespace

class WebEngineBrowserTest : public QObject {
    Q_OBJECT
    std::unique_ptr<demo::DemoService> svc;
    QString base;
    std::unique_ptr<WebEngineBrowser> web;

    QString resultUrl(const QString& keywords, const QString& type, int page = 1, bool quoted = false)
    {
        QString u = base + QStringLiteral("/p?w=") + QString::fromStdString(demo::composeW(keywords, type, quoted));
        if (page > 1)
            u += QStringLiteral("&pn=") + QString::number(page);
        return u;
    }

private Q_SLOTS:
    void initTestCase()
    {
        demo::DemoOptions opts;
        opts.rateLimitPages = -1;  // these tests fetch many pages quickly
        svc = std::make_unique<demo::DemoService>(opts);
        QVERIFY(svc->start());
        base = svc->baseUrl();
    }

    void init()
    {
        web = std::make_unique<WebEngineBrowser>();
        web->setSilent(true);
        web->view()->resize(800, 600);
        web->view()->show();
    }

    void cleanup() { web.reset(); }

    void cleanupTestCase() { svc->stop(); }

    void loadsHomePageAndCompletes()
    {
        QSignalSpy complete(web.get(), &Browser::documentComplete);
        QSignalSpy before(web.get(), &Browser::beforeNavigate);
        QSignalSpy title(web.get(), &Browser::titleChange);
        web->navigate(base + QStringLiteral("/p?w=1"));
        QVERIFY(web->busy());
        QVERIFY(QCoro::waitFor(waitUntilLoaded(*web, 30s)));
        QVERIFY(!web->busy());
        QVERIFY(complete.count() >= 1);
        QCOMPARE(complete.last().at(0).toBool(), true);
        QVERIFY(complete.last().at(1).toString().startsWith(base + QStringLiteral("/p")));
        QVERIFY(before.count() >= 1);
        QVERIFY(title.count() >= 1);
        // The snapshot taken at completion is the loaded page.
        DocumentPtr doc = web->lastDocument();
        QVERIFY(doc->URL().startsWith(base));
        QVERIFY(!doc->getElementsByTagName(QStringLiteral("form")).isEmpty());
        QCOMPARE(doc->getElementsByTagName(QStringLiteral("input")).isEmpty(), false);
    }

    void aboutBlankCompletes()
    {
        QVERIFY(load(*web, QStringLiteral("about:blank")));
        QCOMPARE(web->locationUrl(), QStringLiteral("about:blank"));
        QCOMPARE(snapshot(*web)->getElementsByTagName(QStringLiteral("a")).length(), 0);
    }

    void sameExtractionAsHeadless_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("pdf page 1") << resultUrl(QStringLiteral("教程"), QStringLiteral("pdf"));
        QTest::newRow("doc page 2") << resultUrl(QStringLiteral("数据 结构"), QStringLiteral("doc"), 2);
        QTest::newRow("quoted xls") << resultUrl(QStringLiteral("财务 报表"), QStringLiteral("xls"), 1, true);
        QTest::newRow("gbk header") << base + QStringLiteral("/gbk");
        QTest::newRow("gbk meta") << base + QStringLiteral("/gbk-meta-equiv");
    }

    void sameExtractionAsHeadless()
    {
        QFETCH(QString, path);
        HeadlessBrowser headless;
        QVERIFY(load(headless, path));
        QVERIFY(load(*web, path));
        const auto h = test::extract(*headless.lastDocument());
        const auto w = test::extract(*snapshot(*web));
        if (!(h == w))
            qWarning().noquote() << "headless:\n" << describe(h) << "\nwebengine:\n" << describe(w);
        QVERIFY(h == w);
        QVERIFY(!h.links.isEmpty());
    }

    void silentSwallowsAlerts()
    {
        QSignalSpy title(web.get(), &Browser::titleChange);
        QVERIFY(load(*web, base + QStringLiteral("/alert")));
        QVERIFY(web->suppressedDialogs() >= 1);
        QVERIFY(!snapshot(*web)->getElementById(QStringLiteral("after-alert")).isNull());

        // A dialog from a click is swallowed too and the script goes on.
        QVERIFY(load(*web, base + QStringLiteral("/popup")));
        const int before = web->suppressedDialogs();
        QVERIFY(snapshot(*web)->getElementById(QStringLiteral("alert-link")).click());
        QTRY_VERIFY_WITH_TIMEOUT(web->suppressedDialogs() == before + 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(web->locationName(), QStringLiteral("已提示"), 10000);
    }

    void notSilentShowsTheDialog()
    {
        QVERIFY(load(*web, base + QStringLiteral("/popup")));
        web->setSilent(false);
        // The page's alert is a modal box; close it from a timer as a user would.
        QString shown;
        QTimer closer;
        closer.setInterval(50);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                if (auto* box = qobject_cast<QMessageBox*>(w))
                    shown = box->text();
                w->close();
            }
        });
        closer.start();
        const int before = web->suppressedDialogs();
        QVERIFY(snapshot(*web)->getElementById(QStringLiteral("alert-link")).click());
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        QVERIFY(shown.contains(QStringLiteral("演示提示")));
        QCOMPARE(web->suppressedDialogs(), before);
        closer.stop();
        // Silent again: the next one is swallowed.
        web->setSilent(true);
        QVERIFY(snapshot(*web)->getElementById(QStringLiteral("alert-link")).click());
        QTRY_VERIFY_WITH_TIMEOUT(web->suppressedDialogs() == before + 1, 10000);
    }

    void embeddedViewOutlivesTheBrowser()
    {
        // A window holding the view deletes the browser first, then itself.
        auto* host = new QWidget;
        auto* lay = new QVBoxLayout(host);
        auto* browser = new WebEngineBrowser;
        lay->addWidget(browser->view());
        host->show();
        QVERIFY(load(*browser, base + QStringLiteral("/popup")));
        QPointer<QWebEngineView> view = browser->view();
        delete browser;
        QVERIFY(!view.isNull());
        delete host;
        QVERIFY(view.isNull());
        // The shared profile keeps working for the next browser.
        QVERIFY(load(*web, base + QStringLiteral("/p?w=1")));
    }

    void newWindowRequestsStayInPage_data()
    {
        QTest::addColumn<QString>("linkId");
        QTest::addColumn<QString>("expectedPath");
        QTest::newRow("window.open") << QStringLiteral("open-link") << QStringLiteral("/login");
        QTest::newRow("target=_blank") << QStringLiteral("blank-link") << QStringLiteral("/p");
    }

    void newWindowRequestsStayInPage()
    {
        QFETCH(QString, linkId);
        QFETCH(QString, expectedPath);
        QVERIFY(load(*web, base + QStringLiteral("/popup")));
        QSignalSpy newWindow(web.get(), &Browser::newWindowRequested);
        const quint64 loads = web->completedLoads();
        QVERIFY(snapshot(*web)->getElementById(linkId).click());
        QVERIFY(QCoro::waitFor(waitUntil(*web, 30s, [&] { return web->completedLoads() > loads && !web->busy(); })));
        QCOMPARE(newWindow.count(), 1);
        QVERIFY(web->locationUrl().startsWith(base + expectedPath));
    }

    void windowCloseIsRefused()
    {
        QVERIFY(load(*web, base + QStringLiteral("/popup")));
        QSignalSpy closing(web.get(), &Browser::windowClosing);
        QVERIFY(snapshot(*web)->getElementById(QStringLiteral("close-link")).click());
        QTRY_VERIFY_WITH_TIMEOUT(closing.count() == 1, 10000);
        QVERIFY(web->view()->isVisible());
        QVERIFY(web->locationUrl().startsWith(base + QStringLiteral("/popup")));
    }

    void clickFollowsNextPageLink()
    {
        QVERIFY(load(*web, resultUrl(QStringLiteral("教程"), QStringLiteral("pdf"))));
        DocumentPtr doc = snapshot(*web);
        const Element next = test::findNextPageLink(*doc);
        QVERIFY(!next.isNull());
        const QString target = next.href();
        QVERIFY(QCoro::waitFor([&]() -> QCoro::Task<bool> {
            const quint64 loads = web->completedLoads();
            if (!next.click())
                co_return false;
            co_return co_await waitUntil(*web, 30s, [&] { return web->completedLoads() > loads && !web->busy(); });
        }()));
        QCOMPARE(web->locationUrl(), target);
        QVERIFY(target.contains(QStringLiteral("pn=2")));
        // The old snapshot belongs to the previous page: acting on it is refused.
        QVERIFY(!next.click());
    }

    void setValueAndSubmitLogin()
    {
        QVERIFY(load(*web, base + QStringLiteral("/login")));
        DocumentPtr doc = snapshot(*web);
        Element submit;
        for (const Element& input : doc->getElementsByTagName(QStringLiteral("INPUT"))) {
            const QString n = input.name().toLower();
            if (n == QLatin1String("username"))
                QVERIFY(input.setValue(QStringLiteral("演示用户")));
            else if (n == QLatin1String("password"))
                QVERIFY(input.setValue(QStringLiteral("secret")));
            else if (input.type() == QLatin1String("submit") && submit.isNull())
                submit = input;
        }
        QVERIFY(!submit.isNull());
        const quint64 loads = web->completedLoads();
        QVERIFY(submit.click());
        QVERIFY(QCoro::waitFor(waitUntil(*web, 30s, [&] { return web->completedLoads() > loads && !web->busy(); })));
        // Logged in: the protected document is served instead of the login page.
        HeadlessBrowser probe;  // separate cookie jar: still logged out
        QVERIFY(load(probe, base + QStringLiteral("/doc/protected/x.txt")));
        QVERIFY(!probe.lastDocument()->getElementsByTagName(QStringLiteral("form")).isEmpty());
        QVERIFY(load(*web, base + QStringLiteral("/doc/protected/x.txt")));
        QVERIFY(snapshot(*web)->getElementsByTagName(QStringLiteral("form")).isEmpty());
    }

    void historyAndRefresh()
    {
        QVERIFY(!web->goBack());
        QVERIFY(load(*web, base + QStringLiteral("/p?w=1")));
        QVERIFY(load(*web, base + QStringLiteral("/popup")));
        QVERIFY(web->canGoBack());
        const quint64 loads = web->completedLoads();
        QVERIFY(web->goBack());
        QVERIFY(QCoro::waitFor(waitUntil(*web, 30s, [&] { return web->completedLoads() > loads && !web->busy(); })));
        QVERIFY(web->locationUrl().startsWith(base + QStringLiteral("/p")));
        QVERIFY(web->goForward());
        QTRY_VERIFY_WITH_TIMEOUT(web->locationUrl().startsWith(base + QStringLiteral("/popup")), 10000);
        QVERIFY(!web->goForward());
    }

    void diskCacheIsWhereItIsAnnounced()
    {
        QVERIFY(load(*web, resultUrl(QStringLiteral("缓存"), QStringLiteral("pdf"))));
        QVERIFY(WebEngineBrowser::cachePath().startsWith(QDir::homePath()) || WebEngineBrowser::cachePath().contains(QStringLiteral("/cache/")));
        // Chromium writes its simple-cache entry files asynchronously.
        QTRY_VERIFY_WITH_TIMEOUT(
            [] {
                QDirIterator it(WebEngineBrowser::httpCacheDirectory(), {QStringLiteral("*_0")}, QDir::Files);
                return it.hasNext();
            }(),
            20000);
        qInfo().noquote() << "HTTP cache entries in" << WebEngineBrowser::httpCacheDirectory();
    }
};

DH_GUI_TEST_MAIN(WebEngineBrowserTest)
#include "webengine_browser_test.moc"
