// The search window with its WebEngine browser against the demo service:
// batch order and log, paging with the delay, cleaned titles, the
// verification page, the hand-over into the download window, naming after
// the address, and the automatic hand-over with its cancel case.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "download/DownloadListModel.h"
#include "gui/Windows.h"
#include "gui/DownloadWindow.h"
#include "gui/SaveFolderDialog.h"
#include "gui/SearchWindow.h"
#include "ports/Prompter.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"
#include "search/ServiceProfile.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoroTask>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <httplib.h>

#include <thread>

using namespace dh;

namespace {

SaveFolderDialog* openSaveDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<SaveFolderDialog*>(w); d && d->isVisible())
            return d;
    }
    return nullptr;
}

} // namespace

class SearchWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<demo::DemoService> svc;
    QString base;
    ScriptedPrompter prompter;
    Timings saved;
    QTemporaryDir saveRoot;
    SearchWindow* w = nullptr;

    void setDemo(int rateLimitPages, int pagesPerQuery, int captchaTimeout = 30)
    {
        std::lock_guard lock(svc->state().mutex);
        svc->state().options.rateLimitPages = rateLimitPages;
        svc->state().options.rateLimitWindowSeconds = 60;
        svc->state().options.pagesPerQuery = pagesPerQuery;
        svc->state().options.captchaTimeoutSeconds = captchaTimeout;
    }

    void openWindow(bool promptOnExtract)
    {
        SettingsStore::instance().save(keys::promptOnExtract, promptOnExtract ? QStringLiteral("1") : QStringLiteral("0"));
        w = windows::search();
        w->resize(1280, 860);
        w->show();
        // The window opens on the search home page; let it arrive first.
        QTRY_VERIFY_WITH_TIMEOUT(w->m_browser->completedLoads() >= 1 && !w->m_browser->busy(), 30000);
        w->m_delayCombo->setCurrentText(QStringLiteral("0"));
    }

    bool loadInBrowser(const QString& url)
    {
        const quint64 before = w->m_browser->completedLoads();
        w->m_browser->navigate(url);
        return QTest::qWaitFor(
            [&] { return w->m_browser->completedLoads() > before && !w->m_browser->busy(); }, 30000);
    }

    // Answers the save-location dialog that the window has opened.
    void answerSaveDialog(const QString& folder, bool addressName, bool cancel = false)
    {
        QTRY_VERIFY_WITH_TIMEOUT(openSaveDialog() != nullptr, 10000);
        SaveFolderDialog* d = openSaveDialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("选择下载保存路径-DocHarvest"));
        QVERIFY(d->windowFlags() & Qt::WindowStaysOnTopHint);
        if (cancel) {
            QTest::mouseClick(d->m_cancelButton, Qt::LeftButton);
        } else {
            d->m_folderCombo->setEditText(folder);
            QTest::mouseClick(addressName ? d->m_originalNameRadio : d->m_titleNameRadio, Qt::LeftButton);
            QTest::mouseClick(d->m_okButton, Qt::LeftButton);
        }
        QTRY_VERIFY(openSaveDialog() == nullptr);
    }

    void waitBatchEnd(int ms = 120000)
    {
        QTRY_VERIFY_WITH_TIMEOUT(w->m_batchSearchButton->text() == QStringLiteral("开始批量搜索提取") && w->m_batchSearchButton->isEnabled(), ms);
    }

    QStringList column(int col) const
    {
        QStringList out;
        auto* m = w->m_linksView->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, col).data().toString();
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        demo::DemoOptions o;
        o.rateLimitPages = -1;
        o.pagesPerQuery = 3;
        svc = std::make_unique<demo::DemoService>(o);
        QVERIFY(svc->start());
        base = svc->baseUrl();
        saved = timings();
        auto& t = timings();
        t.secondUnit = std::chrono::milliseconds(50);
        t.tick = std::chrono::milliseconds(100);
        t.pageLoadWait = std::chrono::milliseconds(20000);
        t.nextPageWait = std::chrono::milliseconds(20000);
        Prompter::setInstance(&prompter);
        globals().searchBaseAddress = base;
    }

    void init()
    {
        prompter.clear();
        prompter.questionAnswers.clear();
        setDemo(-1, 3);
        auto& g = globals();
        g.saveFolder.clear();
        g.useUrlFileName = false;
        g.saveDialogCancelled = false;
    }

    void cleanup()
    {
        if (auto* s = windows::searchIfLoaded()) {
            prompter.questionAnswers.assign(1, true);  // collected links may be left
            QPointer<QWidget> p(s);
            s->close();
            QTRY_VERIFY(p.isNull());
        }
        if (auto* d = windows::downloadIfLoaded()) {
            prompter.questionAnswers.assign(1, true);
            QPointer<QWidget> p(d);
            d->close();
            QTRY_VERIFY(p.isNull());
        }
        w = nullptr;
    }

    void cleanupTestCase()
    {
        timings() = saved;
        Prompter::setInstance(nullptr);
        svc->stop();
    }

    void batchRunsInOrderAndLeavesTheLog()
    {
        openWindow(false);
        std::vector<std::pair<QString, QString>> order;
        connect(w->engine(), &SearchEngine::queryStarted, this,
                [&](const QString& k, const QString& t, const QString&) { order.emplace_back(k, t); });
        w->m_keywordsEdit->setPlainText(QStringLiteral("教程\n\n   \n手册"));
        w->m_pptCheck->setChecked(false);
        w->m_xlsCheck->setChecked(false);
        QTest::mouseClick(w->m_batchSearchButton, Qt::LeftButton);
        QCOMPARE(w->m_batchSearchButton->text(), QStringLiteral("停止批量搜索"));
        QVERIFY(w->m_batchSearchButton->styleSheet().contains(QStringLiteral("255, 0, 0")));
        waitBatchEnd();

        const std::vector<std::pair<QString, QString>> want{
            {"教程", "pdf"}, {"教程", "doc"}, {"手册", "pdf"}, {"手册", "doc"}};
        QCOMPARE(order, want);
        QCOMPARE(w->m_finishedSearchesEdit->toPlainText(), QStringLiteral("教程(pdf) 教程(doc) 手册(pdf) 手册(doc) "));
        QVERIFY(w->m_batchSearchButton->styleSheet().isEmpty());
        // Four queries of three pages with six kept results each.
        QCOMPARE(w->m_linksView->model()->rowCount(), 72);
        QCOMPARE(w->m_linkCountLabel->text(), QStringLiteral("72"));
        QCOMPARE(w->m_browser->locationUrl(), searchHomeAddress(base));

        // Titles are cleaned and excluded results stay out.
        for (const QString& title : column(0)) {
            QVERIFY2(!title.contains(QLatin1Char(' ')) && !title.contains(QStringLiteral("...")), qPrintable(title));
            QVERIFY2(!title.startsWith(QStringLiteral("【")), qPrintable(title));
            for (const char* suffix : {"_百度文库", "-百度文库", "-豆丁网", "-道客巴巴"})
                QVERIFY2(!title.endsWith(QString::fromUtf8(suffix)), qPrintable(title));
        }
        for (const QString& type : column(1))
            QVERIFY(type == QLatin1String("pdf") || type == QLatin1String("doc"));
        QVERIFY(column(0).contains(QStringLiteral("教程使用手册2")));
        QVERIFY(column(0).contains(QStringLiteral("手册的原理&应用第3部分")));
        QCOMPARE(w->m_linksView->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("标题"));
        QCOMPARE(w->m_linksView->model()->columnCount(), 5);

        // A look at the window after the batch.
        QTest::qWait(300);
        const QString shot = QDir(test::binaryDir()).filePath(QStringLiteral("search_window_after_batch.png"));
        QVERIFY(w->grab().save(shot));
    }

    void pagingPausesForTheDelay()
    {
        setDemo(-1, 4);
        openWindow(false);
        std::vector<qint64> times;
        QElapsedTimer clock;
        clock.start();
        connect(w->m_browser, &Browser::documentComplete, this, [&](bool top, const QString& url) {
            if (top && url.contains(QStringLiteral("filetype%3Apdf")))
                times.push_back(clock.elapsed());
        });
        w->m_keywordsEdit->setPlainText(QStringLiteral("教程"));
        w->m_docCheck->setChecked(false);
        w->m_pptCheck->setChecked(false);
        w->m_xlsCheck->setChecked(false);
        w->m_delayCombo->setCurrentText(QStringLiteral("4"));  // 4 x 50 ms here
        QTest::mouseClick(w->m_batchSearchButton, Qt::LeftButton);
        waitBatchEnd();
        QCOMPARE(times.size(), size_t(4));
        for (size_t i = 2; i < times.size(); ++i)
            QVERIFY2(times[i] - times[i - 1] >= 200, qPrintable(QString::number(times[i] - times[i - 1])));
        QCOMPARE(w->m_linksView->model()->rowCount(), 24);
        QCOMPARE(w->m_finishedSearchesEdit->toPlainText(), QStringLiteral("教程(pdf) "));
    }

    void verificationPageStopsWithTheBrowserOnIt()
    {
        setDemo(2, 6);
        openWindow(false);
        w->m_keywordsEdit->setPlainText(QStringLiteral("教程\n手册"));
        w->m_pptCheck->setChecked(false);
        w->m_xlsCheck->setChecked(false);
        QTest::mouseClick(w->m_batchSearchButton, Qt::LeftButton);
        waitBatchEnd();
        QVERIFY(w->engine()->captchaHit);
        QCOMPARE(w->m_finishedSearchesEdit->toPlainText(), QStringLiteral("教程(pdf) "));
        QVERIFY(prompter.shown.empty());
        QTest::qWait(300);  // nothing else is loaded afterwards
        const QString here = w->m_browser->locationUrl();
        QVERIFY2(here.endsWith(QStringLiteral("filetype%3Apdf&pn=3")), qPrintable(here));
        DocumentPtr doc = QCoro::waitFor(w->m_browser->document());
        QVERIFY(doc->outerHTML().contains(QStringLiteral("请输入以下验证码，即可恢复使用。")));
        QCOMPARE(w->m_linksView->model()->rowCount(), 12);
        // Let the verification lift for the tests that follow.
        setDemo(-1, 3, 0);
        QVERIFY(loadInBrowser(composeSearchAddress(base, QStringLiteral("x"), QStringLiteral("pdf"), false)));
    }

    void handOverAllTwiceLeavesOneRowPerAddress()
    {
        openWindow(false);
        QVERIFY(loadInBrowser(composeSearchAddress(base, QStringLiteral("教程"), QStringLiteral("pdf"), false)));
        QTest::mouseClick(w->m_addPageButton, Qt::LeftButton);  // no dialog: the folder is asked at hand-over
        QTRY_COMPARE(w->m_linksView->model()->rowCount(), 6);
        QCOMPARE(column(3), QStringList(6, QString()));

        const QString folder = saveRoot.filePath(QStringLiteral("docs"));
        QTest::mouseClick(w->m_analyseButton, Qt::LeftButton);  // nothing selected: "分析全部"
        answerSaveDialog(folder, false);
        QTRY_VERIFY(windows::downloadIfLoaded() && windows::downloadIfLoaded()->isVisible());
        QTRY_VERIFY(w->engine()->stopAnalysis);
        QVERIFY(!w->m_handOverProgressPanel->isVisible());
        DownloadListModel* list = windows::downloadIfLoaded()->list();
        QCOMPARE(list->size(), 6);
        QCOMPARE(column(2), QStringList(6, QStringLiteral("成功")));
        for (int i = 0; i < list->size(); ++i) {
            QCOMPARE(list->item(i).folder, folder + QLatin1Char('/'));
            QCOMPARE(list->item(i).name, sanitizeFileName(column(0).at(i)));
            QCOMPARE(list->item(i).state, DownloadState::Waiting);
            QVERIFY(list->item(i).referer.contains(QStringLiteral("/p?w=")));
        }
        QVERIFY(QDir(folder).exists());

        // The second run through the pop-up menu's "分析全部" brings the list to the front again.
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->m_addAllAction->trigger();
        answerSaveDialog(folder, false);
        QTRY_VERIFY(w->engine()->stopAnalysis);
        QCOMPARE(list->size(), 6);
        QTRY_VERIFY(windows::downloadIfLoaded()->isActiveWindow());
    }

    void originalFileNamesWithPromptOnExtract()
    {
        openWindow(true);
        QVERIFY(loadInBrowser(composeSearchAddress(base, QStringLiteral("手册"), QStringLiteral("doc"), false)));
        const QString folder = saveRoot.filePath(QStringLiteral("原名"));
        QTest::mouseClick(w->m_addPageButton, Qt::LeftButton);
        answerSaveDialog(folder, true);
        QTRY_COMPARE(w->m_linksView->model()->rowCount(), 6);
        QVERIFY(globals().useUrlFileName);
        QCOMPARE(column(3), QStringList(6, folder + QLatin1Char('/')));

        // With a selection, "分析下载" opens the pop-up menu "加入".
        w->m_linksView->selectAll();
        QTest::mouseClick(w->m_analyseButton, Qt::LeftButton);
        QTRY_VERIFY(w->m_addMenu->isVisible());
        QCOMPARE(w->m_addMenu->actions().size(), 4);
        w->m_addMenu->close();
        w->m_analyseUnanalysedAction->trigger();  // promptOnExtract 1: no dialog at hand-over
        QTRY_VERIFY(windows::downloadIfLoaded() && w->engine()->stopAnalysis);
        QVERIFY(openSaveDialog() == nullptr);
        DownloadListModel* list = windows::downloadIfLoaded()->list();
        QCOMPARE(list->size(), 6);
        for (int i = 0; i < list->size(); ++i) {
            const QString url = list->item(i).url;
            const QString last = url.section(QLatin1Char('/'), -1);
            QCOMPARE(list->item(i).name, last.left(last.lastIndexOf(QLatin1Char('.'))));
            QCOMPARE(list->item(i).fileType, QStringLiteral("doc"));
        }
    }

    void automaticModeAndItsCancel()
    {
        openWindow(false);
        QVERIFY(!w->m_autoAnalyseCheck->isChecked());
        QVERIFY(!w->m_autoAnalyseTimer->isActive());

        // Ticking asks for the folder; cancelling leaves the box unticked.
        QTest::mouseClick(w->m_autoAnalyseCheck, Qt::LeftButton);
        answerSaveDialog(QString(), false, true);
        QTRY_VERIFY(!w->m_autoAnalyseCheck->isChecked());
        QVERIFY(!w->m_autoAnalyseTimer->isActive());
        QVERIFY(globals().saveDialogCancelled);

        const QString folder = saveRoot.filePath(QStringLiteral("auto"));
        QTest::mouseClick(w->m_autoAnalyseCheck, Qt::LeftButton);
        answerSaveDialog(folder, false);
        QTRY_VERIFY(w->m_autoAnalyseTimer->isActive());
        QVERIFY(w->m_autoAnalyseCheck->isChecked());

        // Links added now are handed over by the timer, without a dialog.
        QVERIFY(loadInBrowser(composeSearchAddress(base, QStringLiteral("教程"), QStringLiteral("xls"), false)));
        QTest::mouseClick(w->m_addPageButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(windows::downloadIfLoaded() && windows::downloadIfLoaded()->list()->size() == 6, 10000);
        QTRY_COMPARE(column(2), QStringList(6, QStringLiteral("成功")));
        QVERIFY(openSaveDialog() == nullptr);
        QCOMPARE(windows::downloadIfLoaded()->list()->item(0).folder, folder + QLatin1Char('/'));

        QTest::mouseClick(w->m_autoAnalyseCheck, Qt::LeftButton);
        QVERIFY(!w->m_autoAnalyseTimer->isActive());
    }

    // The search half of the road with keys only: type, Tab out of the
    // keywords, F6 through the areas (also out of the web page), Ctrl+Enter
    // for the batch, Ctrl+D to hand over, Return in the folder dialog.
    void keyboardAloneRunsTheSearchRoad()
    {
        setDemo(-1, 1);
        openWindow(false);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        const auto key = [](int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), m);
        };
        const auto focusIn = [](QWidget* area) {
            QWidget* f = QApplication::focusWidget();
            return f && (f == area || area->isAncestorOf(f));
        };
        w->m_keywordsEdit->setFocus();
        w->m_keywordsEdit->clear();
        QTest::keyClicks(w->m_keywordsEdit, QStringLiteral("guide"));
        key(Qt::Key_Tab);
        QCOMPARE(w->m_keywordsEdit->toPlainText(), QStringLiteral("guide"));
        QVERIFY(!focusIn(w->m_keywordsEdit));
        w->m_keywordsEdit->setFocus();
        key(Qt::Key_F6);
        QTRY_VERIFY(focusIn(w->m_browser->view()));
        key(Qt::Key_F6);  // out of the web page again
        QTRY_VERIFY(focusIn(w->m_linksView));
        key(Qt::Key_F6);
        QTRY_VERIFY(focusIn(w->m_keywordsEdit));
        key(Qt::Key_F6, Qt::ShiftModifier);
        QTRY_VERIFY(focusIn(w->m_linksView));

        key(Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(w->m_batchSearchButton->text(), QStringLiteral("停止批量搜索"));
        waitBatchEnd();
        QVERIFY(w->m_linksView->model()->rowCount() > 0);

        QVERIFY(QTest::qWaitForWindowActive(w));
        key(Qt::Key_D, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(openSaveDialog() != nullptr, 10000);
        SaveFolderDialog* d = openSaveDialog();
        QVERIFY(QTest::qWaitForWindowActive(d));
        const QString folder = saveRoot.filePath(QStringLiteral("keys"));
        d->m_folderCombo->setFocus();
        d->m_folderCombo->lineEdit()->selectAll();
        QTest::keyClicks(QApplication::focusWidget(), folder);
        key(Qt::Key_Return);
        QTRY_VERIFY(openSaveDialog() == nullptr);
        QTRY_VERIFY(windows::downloadIfLoaded() && windows::downloadIfLoaded()->isVisible());
        QTRY_COMPARE(windows::downloadIfLoaded()->list()->size(), w->m_linksView->model()->rowCount());
        QCOMPARE(windows::downloadIfLoaded()->list()->item(0).folder, folder + QLatin1Char('/'));

        // The hand-over brings the download window to the keyboard; its start key runs the list.
        DownloadWindow* dw = windows::downloadIfLoaded();
        QVERIFY(QTest::qWaitForWindowActive(dw));
        key(Qt::Key_Return, Qt::ControlModifier);
        const auto count = [dw](auto pred) {
            int n = 0;
            for (int r = 0; r < dw->list()->size(); ++r)
                n += pred(dw->list()->item(r)) ? 1 : 0;
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(count([](const DownloadItem& it) {
                                      return it.state != DownloadState::Waiting && it.state != DownloadState::Downloading;
                                  }),
                                  dw->list()->size(), 60000);
        // The demo's login-only documents answer with its login page.
        QCOMPARE(count([](const DownloadItem& it) {
                     return it.url.contains(QLatin1String("/protected/"))
                                ? outcomeOf(it) == RowOutcome::WebPage
                                : outcomeOf(it) == RowOutcome::Done && QFileInfo(it.owned.path).size() > 0;
                 }),
                 dw->list()->size());
    }

    void emptyListShowsAMessage()
    {
        openWindow(false);
        QTest::mouseClick(w->m_analyseButton, Qt::LeftButton);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("列表没有数据哦！")});
        QVERIFY(w->m_analyseButton->isEnabled());
        QVERIFY(!windows::downloadIfLoaded());
    }

    // A public engine's profile on a page of its shape: WebEngine's snapshot in
    // the window and the headless browser's parse of the same bytes give the
    // same rows.
    void profileGivesTheSameRowsInBothBrowsers()
    {
        httplib::Server pages;
        std::string body = "<html><body><ol id=\"b_results\"><li class=\"b_ad\"><h2><a href=\"/ad.pdf\">广告</a></h2></li>";
        for (int n = 1; n <= 10; ++n)
            body += "<li class=\"b_algo\"><div class=\"b_tpcn\"><a class=\"tilk\" href=\"/d/" + std::to_string(n)
                    + ".pdf\">site</a></div><h2><a href=\"/d/" + std::to_string(n) + ".pdf\">报告 <b>" + std::to_string(n)
                    + "</b> 全文</a></h2><p>摘要</p></li>";
        body += "</ol><a class=\"sb_pagN\" href=\"/search?first=11\">Next</a></body></html>";
        pages.Get("/search", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, "text/html; charset=utf-8");
        });
        const int port = pages.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { pages.listen_after_bind(); });
        const QString site = QStringLiteral("http://127.0.0.1:%1").arg(port);

        QFile builtIn(QStringLiteral(DH_TEST_SOURCE_DIR "/resources/profiles/bing.json"));
        QVERIFY(builtIn.open(QIODevice::ReadOnly));
        QString error;
        const auto profile = parseServiceProfile(builtIn.readAll().replace("https://cn.bing.com", site.toUtf8()), &error);
        QVERIFY2(profile, qPrintable(error));

        openWindow(false);
        w->applyServiceProfile(*profile);
        QVERIFY(loadInBrowser(site + QStringLiteral("/search?q=k")));
        QTest::mouseClick(w->m_addPageButton, Qt::LeftButton);
        QTRY_COMPARE(w->m_linksView->model()->rowCount(), 10);

        const auto headless = Document::parse(QByteArray::fromStdString(body), QUrl(site + QStringLiteral("/search?q=k")));
        QStringList titles, urls;
        for (const ExtractedLink& l : extractResultLinks(*headless, w->engine()->extractOptions, *profile).links) {
            titles << l.title;
            urls << l.url;
        }
        pages.stop();
        serving.join();
        QCOMPARE(column(0), titles);
        QCOMPARE(titles.value(0), QStringLiteral("报告1全文"));
        QCOMPARE(urls.value(9), site + QStringLiteral("/d/10.pdf"));
        QCOMPARE(w->windowTitle().contains(QStringLiteral("Bing页面数据检索分析")), true);
        w->applyServiceProfile(defaultServiceProfile());
    }
};

DH_GUI_TEST_MAIN(SearchWindowTest)
#include "search_window_test.moc"
