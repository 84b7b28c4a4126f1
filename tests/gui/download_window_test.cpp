#include "GuiTestMain.h"
#include "TestEnv.h"

#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "demo/DemoDocuments.h"
#include "demo/DemoService.h"
#include "demo/DemoTransfer.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/UnfinishedList.h"
#include "gui/LoginPanel.h"
#include "gui/Windows.h"
#include "gui/DownloadWindow.h"
#include "net/CurlTransferEngine.h"
#include "ports/Prompter.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QUrl>

#include <cstdio>
#include <ctime>

using namespace dh;
using dh::test::readFile;
using namespace std::chrono_literals;

class DownloadWindowTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    demo::DemoService service;
    std::unique_ptr<CurlTransferEngine> engine;
    QTemporaryDir dir;

    QString folder() const { return dir.path() + "/"; }
    static qint64 threadCpuUs()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    }
    static bool finished(DownloadWindow* d)
    {
        return d->list()->size() > 0 && d->list()->isListFinished();
    }
    void closeAndWait(QWidget* w)
    {
        QPointer<QWidget> p(w);
        w->close();
        QTRY_VERIFY(p.isNull());
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        // All rows come from the one demo service: these rows are about the slots, not the per-server limit.
        SettingsStore::instance().save(keys::perHostLimit, QStringLiteral("0"));
        timings().tick = 50ms;
        timings().transferPoll = 20ms;
        QVERIFY(service.start());
        QVERIFY(dir.isValid());
        engine = std::make_unique<CurlTransferEngine>();
        setTransferEngine(engine.get());
    }

    void cleanupTestCase()
    {
        if (DownloadWindow* d = windows::downloadIfLoaded()) {
            prompter.questionAnswers.assign(1, true);
            closeAndWait(d);
        }
        setTransferEngine(nullptr);
        engine.reset();
        service.stop();
        Prompter::setInstance(nullptr);
    }

    void init()
    {
        QFile::remove(unfinishedListFile());  // each test starts without rows left by another
        prompter.clear();
    }

    void controlsOfTheSchedulerAndTheMonitor()
    {
        DownloadWindow* d = windows::download();
        d->show();
        QCOMPARE(d->m_startButton->text(), QStringLiteral("开始下载"));
        QCOMPARE(d->m_stopButton->text(), QStringLiteral("停止下载"));
        QCOMPARE(d->m_switchMethodButton->text(), QStringLiteral("切换"));
        QCOMPARE(d->m_switchMethodButton->toolTip(), QStringLiteral("更改下载方式"));
        QCOMPARE(d->m_startAction->text(), QStringLiteral("开始下载"));
        QCOMPARE(d->m_stopAction->text(), QStringLiteral("停止下载"));
        QVERIFY(d->m_autoLocateAction->isCheckable());
        QVERIFY(!d->m_autoLocateAction->isChecked());
        QCOMPARE(d->m_pauseCombo->count(), 601);
        QCOMPARE(d->m_pauseCombo->currentText(), QStringLiteral("0"));
        QCOMPARE(d->m_redownloadChoiceCombo->count(), 3);
        QCOMPARE(d->m_redownloadChoiceCombo->currentText(), QStringLiteral("出错项"));
        QCOMPARE(d->m_autoStartCheck->text(), QStringLiteral("当有待下载项时，自动启动下载"));
        QCOMPARE(d->m_autoRedownloadCheck->text(), QStringLiteral("自动重新下载："));
        QCOMPARE(d->m_stopAfterBadRowsCheck->text(), QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"));
        for (QCheckBox* c : {d->m_autoRedownloadCheck, d->m_autoStartCheck, d->m_stopAfterBadRowsCheck, d->m_soundCheck})
            QVERIFY(!c->isChecked());
        QVERIFY(!d->m_schedulerTimer->isActive());
        QVERIFY(d->m_monitorTimer->isActive());
        QCOMPARE(d->m_state.activeTransfers(), 0);
        QVERIFY(!d->m_state.downloadsActive());

        // An empty list: the first tick switches the scheduler off again.
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        QVERIFY(d->m_schedulerTimer->isActive());
        QTRY_VERIFY(!d->m_schedulerTimer->isActive());
        closeAndWait(d);
        QVERIFY(prompter.shown.empty());
    }

    void startButtonDownloadsTheListInParallel()
    {
        DownloadWindow* d = windows::download();
        d->show();
        QCOMPARE(d->m_methodLabel->text(), QStringLiteral("下载方式：2"));
        for (int i = 0; i < 5; ++i)
            d->list()->addItem(service.baseUrl() + QStringLiteral("/doc/g%1.pdf").arg(i), QStringLiteral("g%1").arg(i),
                               "pdf", folder(), "");
        d->list()->addItem(service.baseUrl() + "/doc/protected/paper.pdf", "paper", "pdf", folder(), "");
        // One slow row keeps the run going past a monitor tick, which shows the indicator.
        d->list()->addItem(service.baseUrl() + "/t/file/2000?type=application/pdf&delay=400", "slow", "pdf", folder(), "");
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        QTRY_VERIFY(d->m_runningIndicator->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(finished(d), 20000);
        QTRY_VERIFY(!d->m_schedulerTimer->isActive());
        for (int i = 0; i < 5; ++i) {
            const QString name = QStringLiteral("g%1").arg(i);
            QCOMPARE(readFile(dir.filePath(name + ".pdf")), demo::makeDocument("pdf", name));
            QCOMPARE(cellText(d->list()->item(i), DownloadListModel::ColProgress), QStringLiteral("100%"));
        }
        // The login page that came instead of the paper is recognised.
        QCOMPARE(d->list()->item(5).fileType, QStringLiteral("htm"));
        QVERIFY(QFile::exists(dir.filePath("paper.htm")));
        QTRY_COMPARE(d->m_statusPanels[4]->text(), QStringLiteral("总数:7 正在下载:0 等待:0 已完成:6 失败:0 网页:1"));
        QTRY_VERIFY(!d->m_runningIndicator->isVisible());
        QVERIFY(d->m_startAction->isEnabled());
        QVERIFY(d->m_statusPanels[2]->text().startsWith(QStringLiteral("完成下载:")));
        QVERIFY(!d->m_state.downloadsActive());
        closeAndWait(d);  // finished and off: no question
        QVERIFY(prompter.shown.empty());
    }

    void methodOneThroughTheWindowAndTheSwitch()
    {
        DownloadWindow* d = windows::download();
        d->show();
        QTest::mouseClick(d->m_switchMethodButton, Qt::LeftButton);
        QCOMPARE(d->m_methodLabel->text(), QStringLiteral("下载方式：1"));
        QCOMPARE(d->m_transferCountCombo->currentText(), QStringLiteral("1"));
        QVERIFY(!d->m_transferCountCombo->isEnabled());
        d->m_autoLocateAction->trigger();
        QVERIFY(d->m_autoLocateAction->isChecked());
        for (int i = 0; i < 3; ++i)
            d->list()->addItem(service.baseUrl() + QStringLiteral("/doc/charset/one%1.pdf").arg(i),
                               QStringLiteral("one%1").arg(i), "doc", folder(), "http://referer.example/");
        d->m_startAction->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(finished(d), 20000);
        for (int i = 0; i < 3; ++i) {
            const QString name = QStringLiteral("one%1").arg(i);
            QCOMPARE(d->list()->item(i).fileType, QStringLiteral("pdf"));  // from the Content-Type
            QCOMPARE(readFile(dir.filePath(name + ".pdf")), demo::makeDocument("pdf", name));
        }
        QTRY_COMPARE(d->m_statusPanels[2]->text(), QStringLiteral("完成下载:one2"));
        QCOMPARE(d->m_statusPanels[3]->text(), QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。"));
        QTRY_VERIFY(!d->m_schedulerTimer->isActive());
        closeAndWait(d);
        QCOMPARE(SettingsStore::instance().get(keys::downloadMethod), QStringLiteral("1"));

        // The method comes back with the window; switching back enables the threads.
        d = windows::download();
        QCOMPARE(d->m_methodLabel->text(), QStringLiteral("下载方式：1"));
        QVERIFY(!d->m_transferCountCombo->isEnabled());
        QTest::mouseClick(d->m_switchMethodButton, Qt::LeftButton);
        QCOMPARE(d->m_methodLabel->text(), QStringLiteral("下载方式：2"));
        QCOMPARE(d->m_transferCountCombo->currentText(), QStringLiteral("1"));
        QVERIFY(d->m_transferCountCombo->isEnabled());
        closeAndWait(d);
        QCOMPARE(SettingsStore::instance().get(keys::downloadMethod), QStringLiteral("2"));
    }

    void stopButtonFailsRunningRowsAndUnticksTheOptions()
    {
        DownloadWindow* d = windows::download();
        d->show();
        for (int i = 0; i < 4; ++i)
            d->list()->addItem(service.baseUrl() + QStringLiteral("/t/slow/300000?piece=2000&delay_ms=20&n=%1").arg(i),
                               QStringLiteral("slow%1").arg(i), "bin", folder(), "");
        // The switch of the previous test left one thread, and it was stored.
        QCOMPARE(d->m_transferCountCombo->currentText(), QStringLiteral("1"));
        d->m_transferCountCombo->setCurrentIndex(2);
        d->m_autoStartCheck->setChecked(true);
        d->m_autoRedownloadCheck->setChecked(true);
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        QTRY_VERIFY(cellText(d->list()->item(0), DownloadListModel::ColReceived).toLongLong() > 0);
        QCOMPARE(d->m_state.activeTransfers(), 3);
        QVERIFY(d->m_state.downloadsActive());

        // Closing while it runs asks first; No keeps everything running.
        prompter.questionAnswers.assign(1, false);
        d->close();
        QVERIFY(prompter.texts().value(0).startsWith(QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？\n有 4 个下载没有完成")));
        QVERIFY(d->m_state.downloadsActive());
        prompter.clear();

        QTest::mouseClick(d->m_stopButton, Qt::LeftButton);
        QVERIFY(!d->m_autoStartCheck->isChecked());
        QVERIFY(!d->m_autoRedownloadCheck->isChecked());
        QVERIFY(!d->m_schedulerTimer->isActive());
        QCOMPARE(d->m_state.activeTransfers(), 0);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(d->list()->item(i).state, DownloadState::Failed);
        QCOMPARE(d->list()->item(3).state, DownloadState::Waiting);
        QTRY_VERIFY(!d->m_runningIndicator->isVisible());
        QTRY_COMPARE(d->m_statusPanels[4]->text(), QStringLiteral("总数:4 正在下载:0 等待:1 已完成:0 失败:3"));
        // No temporary file is left, and no placeholder posing as a document.
        QTRY_VERIFY(QDir(dir.path()).entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("slow0.bin")));
        prompter.questionAnswers.assign(1, true);  // a Waiting row is left
        closeAndWait(d);
    }

    // A run that meets login pages, closed when it ended or while it ran, and
    // the next window that offers the rows it left.
    void unfinishedRowsComeBackWhenAsked_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<bool>("closeWhileRunning");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("unfinished");
        QTest::addColumn<bool>("restore");
        QTest::newRow("login pages, 否 discards")
            << QStringList{"/doc/w0.pdf", "/doc/protected/w1.pdf", "/doc/w2.pdf", "/doc/protected/w3.doc"} << false
            << 2 << 2 << false;
        QTest::newRow("closed mid-run, 是 restores as waiting")
            << QStringList{"/doc/m0.pdf", "/t/slow/300000?piece=2000&delay_ms=20", "/doc/m2.pdf", "/doc/m3.pdf"}
            << true << 0 << 3 << true;
    }

    void unfinishedRowsComeBackWhenAsked()
    {
        QFETCH(QStringList, paths);
        QFETCH(bool, closeWhileRunning);
        QFETCH(int, pages);
        QFETCH(int, unfinished);
        QFETCH(bool, restore);
        DownloadWindow* d = windows::download();
        d->show();
        d->m_transferCountCombo->setCurrentIndex(0);
        QCOMPARE(d->m_totalProgressBar->text(), QStringLiteral("0/0"));  // an empty list, not 0 of 1
        for (const QString& p : paths)
            d->list()->addItem(service.baseUrl() + p, QFileInfo(QUrl(p).path()).baseName(), "pdf", folder(), "");
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        if (closeWhileRunning) {
            QTRY_VERIFY_WITH_TIMEOUT(cellText(d->list()->item(1), DownloadListModel::ColReceived).toLongLong() > 0, 20000);
            prompter.questionAnswers.assign(1, true);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(finished(d) && !d->m_schedulerTimer->isActive(), 20000);
            QTRY_COMPARE(d->m_statusPanels[4]->text(),
                         QStringLiteral("总数:4 正在下载:0 等待:0 已完成:2 失败:0 网页:%1").arg(pages));
            QCOMPARE(d->list()->item(1).state, DownloadState::Page);
            QCOMPARE(d->list()->index(1, DownloadListModel::ColProgress).data().toString(), QStringLiteral("网页"));
            QTRY_VERIFY(d->m_loginHintLabel->isVisible());
            QVERIFY(d->m_loginHintLabel->text().contains(QStringLiteral("网页登录")));
            QCOMPARE(d->m_loginPanel->m_addressEdit->text(), service.baseUrl());
            QCOMPARE(d->m_totalProgressBar->value(), d->m_totalProgressBar->maximum());
            QCOMPARE(d->m_totalProgressBar->maximum(), 4);
        }
        const QString first = itemFilePath(d->list()->item(0));
        closeAndWait(d);
        // Closing never takes a complete file with it.
        QCOMPARE(readFile(first), demo::makeDocument("pdf", QFileInfo(first).baseName()));
        QCOMPARE(prompter.shown.size(), size_t(closeWhileRunning ? 1 : 0));

        prompter.clear();
        prompter.questionAnswers.assign(1, restore);
        d = windows::download();
        d->show();
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("恢复上次未完成的 %1 个下载？").arg(unfinished)});
        QVERIFY(!QFile::exists(unfinishedListFile()));
        QCOMPARE(d->list()->size(), restore ? unfinished : 0);
        for (int i = 0; i < d->list()->size(); ++i) {
            QCOMPARE(d->list()->item(i).state, DownloadState::Waiting);
            QCOMPARE(d->list()->item(i).url, service.baseUrl() + paths[i + 1]);
            QVERIFY(cellText(d->list()->item(i), DownloadListModel::ColProgress).isEmpty());
        }
        d->list()->clear();
        closeAndWait(d);
    }

    // A run of 228 documents, then 重新下载 → 选中项 over all of them, stopped
    // halfway and the window closed: every complete file is still on disk, and
    // the next window offers the rows that did not finish again. Each transfer
    // takes the server at least 90 ms, so 114 rows cannot end between two looks.
    void redownloadStoppedAndClosedLosesNoFile()
    {
        DownloadWindow* d = windows::download();
        d->show();
        d->m_transferCountCombo->setCurrentIndex(5);
        const int files = 228;
        std::vector<DownloadItem> rows(static_cast<size_t>(files));
        for (int i = 0; i < files; ++i) {
            rows[size_t(i)].url = service.baseUrl() + QStringLiteral("/t/slow/40000?piece=4000&delay_ms=10&n=%1").arg(i);
            rows[size_t(i)].name = QStringLiteral("doc%1").arg(i);
            rows[size_t(i)].fileType = QStringLiteral("pdf");
            rows[size_t(i)].folder = folder() + "run228/";
        }
        d->list()->addItems(rows);
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(finished(d) && !d->m_schedulerTimer->isActive(), 120000);
        QCOMPARE(d->list()->totals().count(DownloadState::Done), files);
        std::vector<QByteArray> complete;
        for (int i = 0; i < files; ++i)
            complete.push_back(readFile(itemFilePath(d->list()->item(i))));
        QCOMPARE(complete.back().size(), 40000);

        d->selectAllRows();
        d->redownload(RedownloadFilter::Selected);
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(d->list()->totals().count(DownloadState::Done) >= files / 2, 120000);
        QTest::mouseClick(d->m_stopButton, Qt::LeftButton);
        const int unfinished = files - d->list()->totals().count(DownloadState::Done);
        QVERIFY(unfinished > 0);
        prompter.questionAnswers.assign(1, true);
        closeAndWait(d);
        for (int i = 0; i < files; ++i)
            QCOMPARE(readFile(folder() + QStringLiteral("run228/doc%1.pdf").arg(i)), complete[size_t(i)]);
        QVERIFY(QDir(folder() + "run228/").entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());

        prompter.clear();
        prompter.questionAnswers.assign(1, false);
        d = windows::download();
        d->show();
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("恢复上次未完成的 %1 个下载？").arg(unfinished)});
        closeAndWait(d);
    }

    void thousandsOfSmallFilesKeepTheWindowResponsive()
    {
        // The real tick: rows follow each other because transfers end, not because of it.
        timings().tick = 1000ms;
        DownloadWindow* d = windows::download();
        d->show();
        QCOMPARE(d->downloadMethod, 2);
        d->m_transferCountCombo->setCurrentIndex(5);
        const int files = 2000;
        std::vector<DownloadItem> rows(static_cast<size_t>(files));
        for (int i = 0; i < files; ++i) {
            rows[size_t(i)].url = service.baseUrl() + QStringLiteral("/t/file/2000?n=%1").arg(i);
            rows[size_t(i)].name = QStringLiteral("small%1").arg(i);
            rows[size_t(i)].fileType = QStringLiteral("bin");
            rows[size_t(i)].folder = folder() + "many/";
        }
        d->list()->addItems(rows);
        // The longest time the event loop did not come round to a 5 ms timer,
        // and the longest CPU time this thread spent in such a gap (on a busy
        // machine the first also holds the time the thread waited for a core).
        QElapsedTimer sinceLast, run;
        qint64 longest = 0, longestCpu = 0, cpuBefore = 0;
        QTimer probe;
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceLast.restart());
            const qint64 cpu = threadCpuUs();
            longestCpu = std::max(longestCpu, cpu - cpuBefore);
            cpuBefore = cpu;
        });
        QTest::qWait(300);  // the list has been laid out
        sinceLast.start();
        run.start();
        cpuBefore = threadCpuUs();
        probe.start();
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(finished(d), 120000);
        const qint64 ms = run.elapsed();
        probe.stop();
        std::printf("2000 small files in the download window: %.1f s, %.0f files/s, longest event-loop stall %lld ms "
                    "(the longest CPU time in one gap %.1f ms)\n",
                    ms / 1000.0, files * 1000.0 / double(ms), static_cast<long long>(longest - 5),
                    longestCpu / 1000.0);
        std::fflush(stdout);
        for (int i = 0; i < files; i += 97)
            QCOMPARE(readFile(itemFilePath(d->list()->item(i))), demo::demoTransferBytes(0, 2000));
        QTRY_COMPARE(d->m_statusPanels[4]->text(), QStringLiteral("总数:2000 正在下载:0 等待:0 已完成:2000 失败:0"));
        QTRY_VERIFY(!d->m_schedulerTimer->isActive());
        closeAndWait(d);
        timings().tick = 50ms;
    }
};

DH_GUI_TEST_MAIN(DownloadWindowTest)
#include "download_window_test.moc"
