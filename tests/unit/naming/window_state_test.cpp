#include "app/SettingsStore.h"
#include "download/DownloadWindowState.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using dh::BusyGuard;
using dh::DownloadWindowState;

namespace {

TEST(DownloadWindowState, FreshWindow)
{
    DownloadWindowState s;
    EXPECT_EQ(s.activeTransfers(), 0);
    EXPECT_FALSE(s.downloadsActive());
    EXPECT_FALSE(s.transferBusy());
    EXPECT_EQ(s.downloadMethod, 2);
}

// Every combination of the four facts, against the three guards.
TEST(DownloadWindowState, GuardTruthTable)
{
    for (int bits = 0; bits < 16; ++bits) {
        const bool parallelRunning = bits & 1;
        const bool executing = bits & 2;
        const bool timer = bits & 4;
        const bool busy = bits & 8;
        DownloadWindowState s;
        s.setActiveTransfersSource([&] { return parallelRunning ? 2 : 0; });
        s.setStillExecutingSource([&] { return executing; });
        s.setSchedulerTimerSource([&] { return timer; });
        busy ? s.beginTransfer() : s.endTransfer();

        const bool active = parallelRunning || executing || timer;
        SCOPED_TRACE(bits);
        EXPECT_EQ(s.downloadsActive(), active);
        EXPECT_EQ(s.refuses(BusyGuard::ListChanges), active);
        EXPECT_EQ(s.refuses(BusyGuard::Sorting), timer || busy);
        EXPECT_EQ(s.refuses(BusyGuard::Cancelling), busy);

        for (BusyGuard g : {BusyGuard::ListChanges, BusyGuard::Sorting, BusyGuard::Cancelling}) {
            dh::ScriptedPrompter p;
            const bool ran = s.pass(g, p);
            EXPECT_EQ(ran, !s.refuses(g));
            if (ran) {
                EXPECT_TRUE(p.shown.empty());
            } else {
                ASSERT_EQ(p.shown.size(), 1u);
                EXPECT_EQ(p.shown[0].text, DownloadWindowState::guardMessage(g));
                EXPECT_EQ(p.shown[0].icon, DownloadWindowState::guardIcon(g));
            }
        }
    }
}

TEST(DownloadWindowState, GuardMessages)
{
    EXPECT_EQ(DownloadWindowState::guardMessage(BusyGuard::ListChanges), QStringLiteral("停止下载以后，才能执行此操作！"));
    EXPECT_EQ(DownloadWindowState::guardMessage(BusyGuard::Sorting), QStringLiteral("停止下载后方可排序！"));
    EXPECT_EQ(DownloadWindowState::guardMessage(BusyGuard::Cancelling), QStringLiteral("停止下载后方可设置！"));
    EXPECT_EQ(DownloadWindowState::guardIcon(BusyGuard::ListChanges), dh::MessageIcon::Information);
    EXPECT_EQ(DownloadWindowState::guardIcon(BusyGuard::Sorting), dh::MessageIcon::Information);
    EXPECT_EQ(DownloadWindowState::guardIcon(BusyGuard::Cancelling), dh::MessageIcon::Error);
}

TEST(DownloadWindowState, PauseBetweenFiles)
{
    // Scheduler on, nothing transferring: list changes and sorting are refused, cancelling runs.
    DownloadWindowState s;
    s.setSchedulerTimerSource([] { return true; });
    EXPECT_TRUE(s.refuses(BusyGuard::ListChanges));
    EXPECT_TRUE(s.refuses(BusyGuard::Sorting));
    EXPECT_FALSE(s.refuses(BusyGuard::Cancelling));
}

TEST(DownloadWindowState, TransferEventTimeComesFromTheClock)
{
    DownloadWindowState s;  // set when the window loads
    EXPECT_LT(s.msSinceTransferEvent(), 60000);
    s.forgetTransferEvent();
    EXPECT_EQ(s.msSinceTransferEvent(), std::numeric_limits<qint64>::max());
    s.markTransferEvent();
    EXPECT_LT(s.msSinceTransferEvent(), 60000);
}

TEST(DownloadWindowState, DownloadMethodSetting)
{
    QTemporaryDir d;
    dh::SettingsStore store(d.filePath(QStringLiteral("s.ini")));
    EXPECT_EQ(DownloadWindowState::downloadMethodFromSettings(store), 2);
    for (const auto& [stored, method] : {std::pair{"1", 1}, {"2", 2}, {"7", 2}, {"x", 2}, {" 1 ", 1}}) {
        store.save(dh::keys::downloadMethod, QString::fromLatin1(stored));
        EXPECT_EQ(DownloadWindowState::downloadMethodFromSettings(store), method) << stored;
    }
}

} // namespace
