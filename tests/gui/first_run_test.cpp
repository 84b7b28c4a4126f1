// A fresh home with no settings: start-up runs the built-in demo service, the
// search window says "演示模式" and its home page says how to set a real
// service, no update check is made; a configured or given address wins; and
// the options dialog points the next batch at another service.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "gui/ServiceMode.h"
#include "gui/UpdateCheckWiring.h"
#include "gui/Windows.h"
#include "gui/StartWindow.h"
#include "gui/DownloadWindow.h"
#include "gui/OptionsDialog.h"
#include "gui/SearchWindow.h"
#include "net/XmlHttp.h"
#include "ports/Prompter.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "search/SearchEngine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoroTask>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeView>

#include <optional>

using namespace dh;

class FirstRunTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    Timings saved;

    static QLabel* modeLabel(SearchWindow* w)
    {
        return w->m_statusBar->findChild<QLabel*>(QStringLiteral("LabelServiceMode"));
    }

    SearchWindow* openSearchWindow()
    {
        SearchWindow* w = windows::search();
        w->resize(1200, 800);
        w->show();
        if (!QTest::qWaitFor([&] { return w->m_browser->completedLoads() >= 1 && !w->m_browser->busy(); }, 30000))
            return nullptr;
        return w;
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        saved = timings();
        timings().secondUnit = std::chrono::milliseconds(50);
        timings().coverUpdateDelay = std::chrono::milliseconds(10);
    }

    void cleanupTestCase()
    {
        if (auto* s = windows::searchIfLoaded()) {
            prompter.questionAnswers.assign(1, true);  // collected links may be left
            QPointer<QWidget> p(s);
            s->close();
            QTRY_VERIFY(p.isNull());
        }
        timings() = saved;
        services::stopDemoService();
        Prompter::setInstance(nullptr);
    }

    // Runs first, on the untouched home folder the test entry point made.
    void freshHomeStartsInDemoModeWithoutUpdateCheck()
    {
        QVERIFY(!QFile::exists(SettingsStore::instance().fileName()));
        QString error;
        QVERIFY2(services::resolveAtStartup(false, std::nullopt, std::nullopt, &error), qPrintable(error));
        QVERIFY(services::demoMode());
        QCOMPARE(globals().searchBaseAddress, services::demoServiceAddress());
        QCOMPARE(globals().updateBaseAddress, QString());

        // The start-up update check is skipped silently.
        installUpdateCheck();
        StartWindow cover;
        cover.load();
        QTRY_VERIFY(cover.startupDone());
        QTest::qWait(100);
        QVERIFY(!cover.findChild<XmlHttpRequest*>(QStringLiteral("updateCheckRequest")));
        QVERIFY(prompter.shown.empty());
        StartWindow::updateCheckHook() = nullptr;

        SearchWindow* w = openSearchWindow();
        QVERIFY(w);
        QVERIFY(modeLabel(w) && modeLabel(w)->isVisible());
        QCOMPARE(modeLabel(w)->text(), QStringLiteral("演示模式"));
        const auto* profile = w->m_statusBar->findChild<QLabel*>(QStringLiteral("LabelServiceProfile"));
        QVERIFY(profile && profile->isVisible());
        QCOMPARE(profile->text(), QStringLiteral("搜索服务配置：Quorvex"));
        QCOMPARE(w->engine()->searchBase, services::demoServiceAddress());
        const QString page = QCoro::waitFor(w->m_browser->evaluate(QStringLiteral("document.body.innerText"))).toString();
        QVERIFY2(page.contains(QStringLiteral("搜索服务地址")) && page.contains(QStringLiteral("--search-base")),
                 qPrintable(page));
    }

    void configuredAndGivenAddressesWin_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("demoFlag");
        QTest::addColumn<QString>("searchArg");  // "-": not given
        QTest::addColumn<QString>("want");       // "demo": the demo service
        QTest::addColumn<QString>("wantUpdate");
        QTest::newRow("setting") << "https://search.example.net" << false << "-" << "https://search.example.net" << "";
        QTest::newRow("argument over setting") << "https://search.example.net" << false << "http://127.0.0.1:9"
                                               << "http://127.0.0.1:9" << "";
        QTest::newRow("argument without setting") << "" << false << "http://127.0.0.1:9" << "http://127.0.0.1:9" << "";
        QTest::newRow("--demo: search and update") << "https://search.example.net" << true << "-" << "demo" << "demo";
        QTest::newRow("blank setting") << "   " << false << "-" << "demo" << "";
    }

    void configuredAndGivenAddressesWin()
    {
        QFETCH(QString, stored);
        QFETCH(bool, demoFlag);
        QFETCH(QString, searchArg);
        QFETCH(QString, want);
        QFETCH(QString, wantUpdate);
        SettingsStore::instance().save(keys::searchServiceBase, stored);
        const std::optional<QString> arg = searchArg == QLatin1String("-") ? std::nullopt : std::optional(searchArg);
        QVERIFY(services::resolveAtStartup(demoFlag, arg, std::nullopt, nullptr));
        const QString demo = services::demoServiceAddress();
        QCOMPARE(globals().searchBaseAddress, want == QLatin1String("demo") ? demo : want);
        QCOMPARE(globals().updateBaseAddress, wantUpdate == QLatin1String("demo") ? demo : wantUpdate);
        QCOMPARE(services::demoMode(), want == QLatin1String("demo"));
        SettingsStore::instance().save(keys::searchServiceBase, QString());
    }

    // The options dialog points the search at a second service on another
    // port; the next batch asks that one, and demo mode ends.
    void optionsDialogSwitchesTheNextBatch()
    {
        QVERIFY(services::resolveAtStartup(false, std::nullopt, std::nullopt, nullptr));
        demo::DemoOptions o;
        o.rateLimitPages = -1;
        o.pagesPerQuery = 2;
        demo::DemoService second(o);
        QVERIFY(second.start());
        QVERIFY(second.baseUrl() != services::demoServiceAddress());

        SearchWindow* w = windows::searchIfLoaded() ? windows::searchIfLoaded() : openSearchWindow();
        QVERIFY(w);
        QVERIFY(services::demoMode());
        {
            OptionsDialog d;
            QCOMPARE(d.m_searchServiceEdit->text(), QString());  // nothing configured yet
            QCOMPARE(d.m_excludedDomainEdit->text(), QStringLiteral("docin.com"));
            d.m_searchServiceEdit->setText(QStringLiteral("  ") + second.baseUrl() + QStringLiteral(" "));
            d.show();
            QTest::mouseClick(d.m_okButton, Qt::LeftButton);
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        QCOMPARE(SettingsStore::instance().get(keys::searchServiceBase), second.baseUrl());
        QVERIFY(!services::demoMode());
        QVERIFY(!modeLabel(w)->isVisible());

        QStringList urls;
        connect(w->engine(), &SearchEngine::queryStarted, this,
                [&](const QString&, const QString&, const QString& url) { urls << url; });
        SettingsStore::instance().save(keys::promptOnExtract, QStringLiteral("1"));
        globals().promptOnExtract = false;  // no save dialog in the way
        w->m_delayCombo->setCurrentText(QStringLiteral("0"));
        w->m_keywordsEdit->setPlainText(QStringLiteral("教程"));
        for (QCheckBox* c : {w->m_docCheck, w->m_pptCheck, w->m_xlsCheck})
            c->setChecked(false);
        QTest::mouseClick(w->m_batchSearchButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w->m_batchSearchButton->text() == QStringLiteral("开始批量搜索提取") && w->m_batchSearchButton->isEnabled(),
                                 120000);
        QCOMPARE(urls.size(), 1);
        QVERIFY2(urls[0].startsWith(second.baseUrl() + QLatin1Char('/')), qPrintable(urls[0]));
        QVERIFY(w->m_linksView->model()->rowCount() > 0);
        QVERIFY(w->m_browser->locationUrl().startsWith(second.baseUrl()));
    }

    // Small things a new user meets: a second hand-over is explained, and the
    // download window has its own 帮助 → 关于.
    void secondHandOverIsExplainedAndDownloadWindowHasAbout()
    {
        SearchWindow* w = windows::searchIfLoaded() ? windows::searchIfLoaded() : openSearchWindow();
        QVERIFY(w);
        w->engine()->stopAnalysis = false;  // a hand-over is running
        w->m_addAllAction->trigger();
        QCOMPARE(w->m_browserStatusPanel->text(), QStringLiteral("正在加入下载列表，请稍候"));
        w->engine()->stopAnalysis = true;

        DownloadWindow* d = windows::download();
        QAction* about = nullptr;
        for (QAction* a : d->menuBar()->actions()) {
            if (a->text() == QStringLiteral("帮助(&H)") && a->menu() && !a->menu()->actions().isEmpty())
                about = a->menu()->actions().first();
        }
        QVERIFY(about && about->text() == QStringLiteral("关于(&A)"));
        prompter.clear();
        about->trigger();
        QCOMPARE(prompter.shown.size(), size_t(1));
        QCOMPARE(prompter.shown[0].title, QStringLiteral("关于DocHarvest"));
        prompter.questionAnswers.assign(1, true);
        QPointer<QWidget> p(d);
        d->close();
        QTRY_VERIFY(p.isNull());
    }
};

DH_GUI_TEST_MAIN(FirstRunTest)
#include "first_run_test.moc"
