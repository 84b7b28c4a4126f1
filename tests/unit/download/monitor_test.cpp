// The monitor tick and the scheduler's switch, without transfers: the
// scheduler's own tick is kept from firing by a long interval.
#include "FakeDownloadHost.h"

#include "app/Timings.h"
#include "CellTexts.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "download/MethodOneTransfer.h"
#include "download/Redownload.h"
#include "download/TransferMonitor.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

class Monitor : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = timings();
        timings().tick = 1h;
        ASSERT_TRUE(dir.isValid());
        scheduler = std::make_unique<DownloadScheduler>(list, state, host);
        monitor = std::make_unique<TransferMonitor>(list, state, *scheduler, host);
    }
    void TearDown() override
    {
        monitor.reset();
        scheduler.reset();
        timings() = saved;
    }

    // Adds a row in a given state; with file, its file is written too.
    void row(const QString& name, const QString& type, DownloadState s, bool file = false,
             const QString& progress = QStringLiteral("100%"))
    {
        const int i = list.size();
        list.addItem("http://h/" + name + "." + type, name, type, dir.path() + "/", "");
        if (s != DownloadState::Waiting)
            setCellTexts(list, i, "10", "10", progress);
        list.setState(i, s);
        if (file) {
            QFile f(itemFilePath(list.item(i)));
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("0123456789");
            f.close();
            list.setOwnedFile(i, itemFilePath(list.item(i)));  // as the row's transfer left it
        }
    }

    Timings saved;
    QTemporaryDir dir;
    DownloadListModel list;
    DownloadWindowState state;
    FakeHost host;
    std::unique_ptr<DownloadScheduler> scheduler;
    std::unique_ptr<TransferMonitor> monitor;
};

TEST_F(Monitor, FinishedListSwitchesTheSchedulerOffWithOneCue)
{
    row("a", "pdf", DownloadState::Done);
    row("b", "pdf", DownloadState::Failed);
    scheduler->startDownloading();
    host.startEnabled = false;
    monitor->tick();
    EXPECT_FALSE(scheduler->running());
    EXPECT_TRUE(host.startEnabled);
    EXPECT_FALSE(host.indicator);
    EXPECT_EQ(host.cues, std::vector<int>{102});
    monitor->tick();
    EXPECT_EQ(host.cues, std::vector<int>{102});
    EXPECT_EQ(host.counterBeats, 2);
    EXPECT_EQ(list.updateListCounters(), "总数:2 正在下载:0 等待:0 已完成:1 失败:1");
}

TEST_F(Monitor, StartCommandAndIndicatorFollowTheScheduler)
{
    row("w", "pdf", DownloadState::Waiting);
    scheduler->startDownloading();
    monitor->tick();
    EXPECT_FALSE(host.startEnabled);
    EXPECT_TRUE(host.indicator);
    EXPECT_TRUE(scheduler->running());  // not finished: left on
    scheduler->switchOff();
    monitor->tick();
    EXPECT_TRUE(host.startEnabled);
    EXPECT_FALSE(host.indicator);
    EXPECT_TRUE(host.cues.empty());
}

TEST_F(Monitor, TransferBusyRules)
{
    row("w", "pdf", DownloadState::Waiting);
    // Method two: the busy flag is the scheduler's state.
    state.downloadMethod = 2;
    scheduler->startDownloading();
    monitor->tick();
    EXPECT_TRUE(state.transferBusy());
    scheduler->switchOff();
    monitor->tick();
    EXPECT_FALSE(state.transferBusy());

    // Method one: cleared only when nothing executes and the scheduler is off.
    state.downloadMethod = 1;
    state.beginTransfer();
    scheduler->startDownloading();
    monitor->tick();
    EXPECT_TRUE(state.transferBusy());
    scheduler->switchOff();
    monitor->tick();
    EXPECT_FALSE(state.transferBusy());
}

TEST_F(Monitor, AutomaticStartNeedsAnUntouchedRow)
{
    host.autoStartOption = true;
    row("again", "pdf", DownloadState::Waiting);
    setCellTexts(list, 0, "等待重新下载", "", "");
    monitor->tick();
    EXPECT_FALSE(scheduler->running());
    row("fresh", "pdf", DownloadState::Waiting);
    monitor->tick();
    EXPECT_TRUE(scheduler->running());
}

TEST_F(Monitor, AutomaticRedownloadResetsTheChosenRows)
{
    struct Case {
        int choice;
        std::vector<DownloadState> states;  // afterwards, rows as added below
        std::vector<QString> types;
    };
    const std::vector<Case> cases = {
        {0,
         {DownloadState::Waiting, DownloadState::Done, DownloadState::Done, DownloadState::Done,
          DownloadState::Waiting, DownloadState::Page},
         {"pdf", "html", "xml", "pdf", "xxx", "htm"}},
        {1,
         {DownloadState::Failed, DownloadState::Waiting, DownloadState::Waiting, DownloadState::Done,
          DownloadState::Waiting, DownloadState::Waiting},
         {"pdf", "xxx", "xxx", "pdf", "xxx", "xxx"}},
        {2,
         {DownloadState::Waiting, DownloadState::Waiting, DownloadState::Waiting, DownloadState::Done,
          DownloadState::Waiting, DownloadState::Waiting},
         {"pdf", "xxx", "xxx", "pdf", "xxx", "xxx"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.choice);
        list.clear();
        host.cues.clear();
        row("failed", "pdf", DownloadState::Failed, true, "30%");
        row("page", "html", DownloadState::Done, true);
        row("feed", "xml", DownloadState::Done, true);
        row("doc", "pdf", DownloadState::Done, true);
        // Failed and a web page at once.
        row("both", "HTM", DownloadState::Failed, true);
        // A login page kept in place of the document.
        row("kept", "htm", DownloadState::Page, true);
        scheduler->switchOff();
        host.autoRedownloadOption = true;
        host.choice = c.choice;
        // The command line counts its rounds by the same selection.
        const std::vector<int> chosen = autoRedownloadRows(list, RedownloadChoice(c.choice));
        monitor->tick();
        EXPECT_TRUE(scheduler->running());
        EXPECT_EQ(host.rounds, 1);
        host.rounds = 0;
        for (int i = 0; i < list.size(); ++i) {
            SCOPED_TRACE(i);
            const DownloadItem& it = list.item(i);
            EXPECT_EQ(std::count(chosen.begin(), chosen.end(), i) == 1, it.state == DownloadState::Waiting);
            EXPECT_EQ(it.state, c.states[size_t(i)]);
            EXPECT_EQ(it.fileType, c.types[size_t(i)]);
            if (it.state == DownloadState::Waiting) {
                EXPECT_TRUE(cellText(it, DownloadListModel::ColSize).isEmpty() && cellText(it, DownloadListModel::ColReceived).isEmpty() && cellText(it, DownloadListModel::ColProgress).isEmpty());
                EXPECT_EQ(QFileInfo::exists(dir.filePath(it.name + ".pdf")), it.name == "failed");
            }
        }
        EXPECT_EQ(QFileInfo::exists(dir.filePath("doc.pdf")), true);
        EXPECT_EQ(QFileInfo::exists(dir.filePath("page.html")), c.choice == 0);
        EXPECT_TRUE(QFileInfo::exists(dir.filePath("failed.pdf")));  // kept until a new body replaces it
    }
}

TEST_F(Monitor, AutomaticRedownloadOnAFinishedListCuesEveryTick)
{
    row("a", "pdf", DownloadState::Done);
    host.autoRedownloadOption = true;
    monitor->tick();  // nothing to reset, switched on all the same
    EXPECT_TRUE(scheduler->running());
    monitor->tick();  // finished: off with a cue, then on again
    monitor->tick();
    EXPECT_TRUE(scheduler->running());
    EXPECT_EQ(host.cueCount(102), 2);
}

TEST_F(Monitor, ErrorStopAtFiveBadRows)
{
    host.errorStopOption = true;
    row("w", "pdf", DownloadState::Waiting);
    for (int i = 0; i < 4; ++i)
        row(QStringLiteral("p%1").arg(i), "html", DownloadState::Done);
    scheduler->startDownloading();
    monitor->tick();
    EXPECT_TRUE(scheduler->running());
    row("p4", "HTML", DownloadState::Done);
    monitor->tick();
    EXPECT_FALSE(scheduler->running());
    EXPECT_EQ(host.cues, std::vector<int>{102});

    // With the automatic re-download on as well, the next tick resets the
    // bad rows and starts again.
    host.autoRedownloadOption = true;
    host.choice = 2;
    monitor->tick();
    EXPECT_TRUE(scheduler->running());
    EXPECT_EQ(list.countBadRows(), 0);
    EXPECT_EQ(list.item(1).fileType, "xxx");
}

TEST_F(Monitor, StopCommandUnticksAndFailsDownloadingRows)
{
    row("d", "pdf", DownloadState::Downloading);
    row("w", "pdf", DownloadState::Waiting);
    host.autoStartOption = host.autoRedownloadOption = true;
    state.beginTransfer();
    scheduler->startDownloading();
    scheduler->stopDownloading();
    EXPECT_EQ(list.item(0).state, DownloadState::Failed);
    EXPECT_EQ(cellText(list.item(0), DownloadListModel::ColProgress), "100%");  // cells stay as they were
    EXPECT_EQ(list.item(1).state, DownloadState::Waiting);
    EXPECT_FALSE(host.autoStartOption || host.autoRedownloadOption);
    EXPECT_FALSE(state.transferBusy());
    EXPECT_FALSE(scheduler->running());
    EXPECT_FALSE(state.downloadsActive());
    EXPECT_EQ(state.activeTransfers(), 0);
}

TEST(Redownload, DeletesOnlyTheRowsOwnFile)
{
    QTemporaryDir dir;
    DownloadListModel list;
    list.addItem("http://h/a", "a", "htm", dir.path() + "/", "");
    list.setState(0, DownloadState::Done);
    for (const char* name : {"a.htm", "a.xxx"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    list.setOwnedFile(0, dir.filePath("a.htm"));  // the row's own download
    EXPECT_EQ(resetForAutoRedownload(list, RedownloadChoice::WebPages), 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("a.htm")));
    // Not created by the row: it stays.
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("a.xxx")));
    EXPECT_EQ(list.item(0).fileType, "xxx");
    EXPECT_EQ(resetForAutoRedownload(list, RedownloadChoice::FailedAndWebPages), 0);  // Waiting rows never match
}

TEST(UrlHostPart, Table)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"http://h.example:8080/dir/file.pdf", "http://h.example:8080"},
        {"https://h/x", "https://h"},
        {"http://h", "http://h"},             // no "/" after the host
        {"file:///tmp/x", "file:///tmp/x"},   // "/" right after "://"
        {"host.example/a/b", "host.example"}, // no scheme, "/" late enough
        {"ab/c", "ab/c"},                     // "/" is the third character
        {"abc/d", "abc"},
        {"", ""},
    };
    for (const auto& [in, want] : cases)
        EXPECT_EQ(MethodOneTransfer::urlHostPart(in), want) << in.toStdString();
}

} // namespace
} // namespace dh::test
