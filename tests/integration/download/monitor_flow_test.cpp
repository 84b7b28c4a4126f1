#include "DownloadFixture.h"
#include "download/ListOperations.h"

using namespace std::chrono_literals;

namespace dh::test {
namespace {

class MonitorFlow : public DownloadFixture, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        DownloadFixture::SetUp();
        state.downloadMethod = GetParam();
        startMonitor();
    }
    const DownloadItem& row(int i) const { return list.item(i); }
};

TEST_P(MonitorFlow, TheFinishedListSwitchesTheSchedulerOffOnce)
{
    for (const QString n : {"m1", "m2", "m3", "m4"})
        add("/doc/" + n + ".pdf", n, "pdf");
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scheduler->running(); }, 20000));
    QTest::qWait(200);  // a few more monitor ticks
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(readFile(itemFilePath(row(i))), demo::makeDocument("pdf", row(i).name));
    }
    EXPECT_EQ(host.cues, std::vector<int>{102});
    EXPECT_TRUE(host.startEnabled);
    EXPECT_FALSE(host.indicator);
    EXPECT_FALSE(state.transferBusy());
    EXPECT_FALSE(state.downloadsActive());
    EXPECT_GT(host.counterBeats, 0);
    EXPECT_EQ(list.updateListCounters(), "总数:4 正在下载:0 等待:0 已完成:4 失败:0");
}

// A run makes each save folder once; the next run looks again.
TEST_P(MonitorFlow, ASaveFolderRemovedAfterARunIsMadeAgainByTheNext)
{
    const QString sub = folder() + "sub/";
    list.addItem(url("/doc/a.pdf"), "a", "pdf", sub, QString());
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scheduler->running(); }, 20000));
    ASSERT_EQ(row(0).state, DownloadState::Done);
    ASSERT_TRUE(QDir(sub).removeRecursively());
    list.addItem(url("/doc/b.pdf"), "b", "pdf", sub, QString());
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scheduler->running(); }, 20000));
    EXPECT_EQ(row(1).state, DownloadState::Done);
    EXPECT_EQ(readFile(sub + "b.pdf"), demo::makeDocument("pdf", "b"));

    // Removed while a run goes on: at most the row that finds it gone fails.
    host.slotNumber = 1;
    for (const char* n : {"c", "d", "e"})
        list.addItem(url(QStringLiteral("/doc/%1.pdf").arg(n)), n, "pdf", sub, QString());
    QObject removing;
    QObject::connect(&list, &QAbstractItemModel::dataChanged, &removing, [&] {
        if (row(2).state == DownloadState::Done && QDir(sub).exists() && list.size() > 4
            && row(3).state == DownloadState::Waiting)
            QDir(sub).removeRecursively();
    });
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scheduler->running(); }, 20000));
    EXPECT_EQ(row(4).state, DownloadState::Done) << qPrintable(row(4).failReason);
    EXPECT_EQ(readFile(sub + "e.pdf"), demo::makeDocument("pdf", "e"));
}

TEST_P(MonitorFlow, AutomaticStartPicksUpNewRows)
{
    host.autoStartOption = true;
    QTest::qWait(150);
    EXPECT_FALSE(scheduler->running());  // nothing pending
    add("/doc/late.pdf", "late", "pdf");
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(0).state == DownloadState::Done; }, 10000));
    EXPECT_EQ(readFile(path("late.pdf")), demo::makeDocument("pdf", "late"));
}

TEST_P(MonitorFlow, AutomaticRedownloadRestartsStoppedRows)
{
    for (int i = 0; i < 3; ++i)
        add(QStringLiteral("/t/slow/60000?piece=3000&delay_ms=20&n=%1").arg(i), QStringLiteral("r%1").arg(i), "bin");
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cellText(row(0), DownloadListModel::ColReceived).toLongLong() > 0; }, 5000));
    scheduler->stopDownloading();
    // A method-one transfer writes its cancel into the row after the stop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !state.stillExecuting(); }, 2000));
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    host.autoRedownloadOption = true;
    host.choice = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int i = 0; i < list.size(); ++i) {
                if (row(i).state != DownloadState::Done)
                    return false;
            }
            return true;
        },
        20000));
    host.autoRedownloadOption = false;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "100%");
        EXPECT_EQ(readFile(itemFilePath(row(i))), transferBytes(60000));
    }
}

TEST_P(MonitorFlow, ErrorStopAfterFiveWebPages)
{
    host.slotNumber = 6;
    host.errorStopOption = true;
    host.autoStartOption = false;
    monitor->timer()->start(1h);  // the stop must not wait for a monitor tick
    for (int i = 0; i < 40; ++i)
        add(QStringLiteral("/t/status/403?n=%1").arg(i), QStringLiteral("e%1").arg(i), "pdf");
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scheduler->running() && !state.downloadsActive(); }, 20000));
    EXPECT_GE(list.countBadRows(), 5);
    EXPECT_LE(list.countBadRows(), 10);  // those running when the fifth ended may end too
    EXPECT_EQ(row(39).state, DownloadState::Waiting);
    EXPECT_EQ(row(0).fileType, "htm");
    EXPECT_EQ(host.cueCount(102), 1);
    EXPECT_FALSE(scheduler->running());
}

// Every re-download command keeps a complete file until its replacement is whole.
TEST_P(MonitorFlow, RedownloadKeepsTheCompleteFileUntilItsReplacementIsWhole)
{
    host.policy = SameNamePolicy::Skip;
    using F = RedownloadFilter;
    const char* refused = "http://127.0.0.1:1/x.pdf";  // nothing listens on port 1
    const struct { F filter; const char* from; bool replaced, byMonitor = false, stopHalfway = false; } cases[] = {
        {F::Selected, "/t/cut/60000", false}, {F::Selected, refused, false}, {F::Selected, "/t/status/503", false},
        {F::Selected, "/doc/protected/x.pdf", false}, {F::Selected, "/doc/y.pdf", true},
        {F::Failed, "/t/cut/60000", false}, {F::Failed, "/doc/y.pdf", true}, {F::Failed, refused, false, true},
        {F::Failed, "/doc/y.pdf", true, true}, {F::FailedAndWebPages, "/t/status/503", false},
        {F::SmallComplete, refused, false}, {F::SmallComplete, "/doc/y.pdf", true},
        {F::Selected, "/t/slow/400000?piece=2000&delay_ms=20", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        list.clear();
        QFile::remove(path("x.pdf"));
        add("/doc/x.pdf", "x", "pdf");
        ASSERT_TRUE(runAll());
        auto redownloadFrom = [&](const QString& from, F filter, bool byMonitor, bool stopHalfway) {
            replaceInAddresses(list, list.item(0).url, from.startsWith("http") ? from : url(from));
            host.autoRedownloadOption = byMonitor;
            byMonitor ? TransferMonitor(list, state, *scheduler, host).tick()
                      : void(redownloadRows(list, filter, {0}, 1e9));
            scheduler->startDownloading();
            EXPECT_TRUE(QTest::qWaitFor([&] { return stopHalfway ? cellText(list.item(0), DownloadListModel::ColReceived).toLongLong() > 0
                                                                  : list.isListFinished(); }, 20000));
            scheduler->stopDownloading();  // the run is over, or halfway through
            QTest::qWait(50);               // a stopped transfer's files go as it winds down
        };
        if (c.filter != F::Selected && c.filter != F::SmallComplete)  // a failed row that still has its file
            redownloadFrom(refused, F::Selected, false, false);
        redownloadFrom(c.from, c.filter, c.byMonitor, c.stopHalfway);
        EXPECT_EQ(readFile(path("x.pdf")), demo::makeDocument("pdf", c.replaced ? "y" : "x"));
        EXPECT_EQ(cellText(list.item(0), DownloadListModel::ColProgress), c.replaced ? "100%" : keptFileText());
        if (QString(c.from).contains("protected"))  // a login page came instead of the document
            EXPECT_EQ(list.item(0).failReason, failReasonText(FailReason::PageOverFile));
        EXPECT_EQ(entries(), QStringList{"x.pdf"});
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, MonitorFlow, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Method" + std::to_string(info.param);
                         });

} // namespace
} // namespace dh::test
