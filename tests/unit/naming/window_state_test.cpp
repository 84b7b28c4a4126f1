#include "app/SettingsStore.h"
#include "download/DownloadWindowState.h"
#include "ports/Clock.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using dh::BusyGuard;
using dh::DownloadWindowState;

namespace {

TEST(DownloadWindowState, FreshWindow)
{
    DownloadWindowState s;
    EXPECT_EQ(s.countTransferControls(), 1);
    EXPECT_FALSE(s.downloadsActive());
    EXPECT_FALSE(s.transferBusy);
    EXPECT_EQ(s.downloadMethod, 2);
    for (int slot : s.slotRows)
        EXPECT_EQ(slot, 0);
    EXPECT_EQ(s.slotRows.size(), 12u);
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
        s.setTransferControlCounter([&] { return parallelRunning ? 3 : 1; });
        s.setStillExecutingSource([&] { return executing; });
        s.setSchedulerTimerSource([&] { return timer; });
        s.transferBusy = busy;

        const bool active = parallelRunning || executing || timer;
        SCOPED_TRACE(bits);
        EXPECT_EQ(s.downloadsActive(), active);
        EXPECT_EQ(s.refuses(BusyGuard::A), active);
        EXPECT_EQ(s.refuses(BusyGuard::B), timer || busy);
        EXPECT_EQ(s.refuses(BusyGuard::C), busy);

        for (BusyGuard g : {BusyGuard::A, BusyGuard::B, BusyGuard::C}) {
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
    EXPECT_EQ(DownloadWindowState::guardMessage(BusyGuard::A), QStringLiteral("停止下载以后，才能执行此操作！"));
    EXPECT_EQ(DownloadWindowState::guardMessage(BusyGuard::B), QStringLiteral("停止下载后方可排序！"));
    EXPECT_EQ(DownloadWindowState::guardMessage(BusyGuard::C), QStringLiteral("停止下载后方可设置！"));
    EXPECT_EQ(DownloadWindowState::guardIcon(BusyGuard::A), dh::MessageIcon::Information);
    EXPECT_EQ(DownloadWindowState::guardIcon(BusyGuard::B), dh::MessageIcon::Information);
    EXPECT_EQ(DownloadWindowState::guardIcon(BusyGuard::C), dh::MessageIcon::Error);
}

TEST(DownloadWindowState, PauseBetweenFiles)
{
    // Scheduler on, nothing transferring: A and B refuse, C lets cancel run.
    DownloadWindowState s;
    s.setSchedulerTimerSource([] { return true; });
    EXPECT_TRUE(s.refuses(BusyGuard::A));
    EXPECT_TRUE(s.refuses(BusyGuard::B));
    EXPECT_FALSE(s.refuses(BusyGuard::C));
}

TEST(DownloadWindowState, TransferEventTimeComesFromTheClock)
{
    dh::Clock::setSource([] { return QDateTime(QDate(2024, 5, 1), QTime(13, 30, 15, 500)); });
    DownloadWindowState s;  // set when the window loads
    EXPECT_FLOAT_EQ(s.lastTransferEventTime, 13 * 3600 + 30 * 60 + 15.5f);
    dh::Clock::setSource([] { return QDateTime(QDate(2024, 5, 1), QTime(13, 31, 0)); });
    s.markTransferEvent();
    EXPECT_FLOAT_EQ(s.lastTransferEventTime, 13 * 3600 + 31 * 60.0f);
    dh::Clock::setSource({});
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
