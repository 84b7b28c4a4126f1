#include "DownloadFixture.h"

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
    EXPECT_FALSE(state.transferBusy);
    EXPECT_FALSE(state.downloadsActive());
    EXPECT_EQ(host.panels[4], "总数:4 正在下载:0 等待:0 已完成:4 失败:0");
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(0).receivedText.toLongLong() > 0; }, 5000));
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
        EXPECT_EQ(row(i).progressText, "100%");
        EXPECT_EQ(readFile(itemFilePath(row(i))), transferBytes(60000));
    }
}

TEST_P(MonitorFlow, ErrorStopAfterFiveBadRows)
{
    const struct {
        const char* what;
        const char* path;
        int slots;
        bool monitorTicks;  // false: no monitor tick until long after the rows end
    } cases[] = {
        {"login pages, one slot", "/t/status/403", 1, true},
        {"fast failures, six slots, between two monitor ticks", "/t/status/404", 6, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        list.clear();
        host.cues.clear();
        host.slotNumber = c.slots;
        host.errorStopOption = true;
        monitor->timer()->start(c.monitorTicks ? timings().tick : 1h);
        for (int i = 0; i < 40; ++i)
            add(QStringLiteral("%1?n=%2").arg(QLatin1String(c.path)).arg(i), QStringLiteral("e%1").arg(i), "pdf");
        scheduler->startDownloading();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !scheduler->running(); }, 20000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !state.downloadsActive(); }, 5000));
        // The rows that were running when the fifth ended may still end badly.
        EXPECT_GE(list.countBadRows(), 5);
        EXPECT_LE(list.countBadRows(), 4 + c.slots);
        EXPECT_EQ(row(39).state, DownloadState::Waiting);
        EXPECT_EQ(host.cueCount(102), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, MonitorFlow, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Method" + std::to_string(info.param);
                         });

} // namespace
} // namespace dh::test
