#include "DownloadFixture.h"

#include "download/Downloader.h"
#include "ports/Clock.h"

#include <QFileInfo>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

const QByteArray kPlaceholder("\x01\x00", 2);

class MethodTwo : public DownloadFixture {
protected:
    const DownloadItem& row(int i) const { return list.item(i); }
    int count(DownloadState s) const
    {
        int n = 0;
        for (int i = 0; i < list.size(); ++i)
            n += list.item(i).state == s ? 1 : 0;
        return n;
    }
    QStringList partFiles() const { return entries().filter(QStringLiteral(".part")); }
};

TEST_F(MethodTwo, ThreeSlotsOverTenRows)
{
    host.slotNumber = 3;
    for (int i = 0; i < 10; ++i)
        add(QStringLiteral("/t/slow/%1?piece=3000&delay_ms=20").arg(30000 + i), QStringLiteral("f%1").arg(i), "bin");
    int mostRunning = 0;
    int mostControls = 0;
    QSet<int> slotsUsed;
    QObject::connect(scheduler.get(), &DownloadScheduler::rowStarted, [&](int) {
        mostRunning = std::max(mostRunning, count(DownloadState::Downloading));
        mostControls = std::max(mostControls, scheduler->countTransferControls());
        for (int j = 1; j <= 6; ++j) {
            if (scheduler->downloader(j))
                slotsUsed.insert(j);
        }
    });

    // The first tick fills the three slots from the top.
    scheduler->tick();
    EXPECT_EQ(count(DownloadState::Downloading), 3);
    for (int j = 1; j <= 3; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(state.slotRows[size_t(j)], j);
        ASSERT_NE(scheduler->downloader(j), nullptr);
        EXPECT_EQ(row(j - 1).state, DownloadState::Downloading);
        // The target is taken at once by the placeholder.
        EXPECT_EQ(readFile(path(QStringLiteral("f%1.bin").arg(j - 1))), kPlaceholder);
    }
    EXPECT_EQ(scheduler->downloader(4), nullptr);
    EXPECT_EQ(scheduler->countTransferControls(), 4);
    EXPECT_TRUE(state.transferBusy);
    EXPECT_TRUE(state.downloadsActive());
    EXPECT_EQ(row(3).state, DownloadState::Waiting);

    // Later ticks refill the slots as transfers end.
    ASSERT_TRUE(runAll());
    EXPECT_EQ(mostRunning, 3);
    EXPECT_EQ(mostControls, 4);
    EXPECT_EQ(slotsUsed, (QSet<int>{1, 2, 3}));
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const qint64 size = 30000 + i;
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColSize), QString::number(size));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColReceived), QString::number(size));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "100%");
        EXPECT_EQ(readFile(itemFilePath(row(i))), transferBytes(size));
    }
    EXPECT_EQ(scheduler->countTransferControls(), 1);
    EXPECT_TRUE(partFiles().isEmpty());
    EXPECT_EQ(host.panels[2].left(5), "完成下载:");
}

TEST_F(MethodTwo, SameNameInOneTickGetsANumber)
{
    add("/doc/x.pdf?v=1", "dup", "pdf");
    add("/doc/y.pdf?v=2", "dup", "pdf");
    host.policy = SameNamePolicy::Rename;
    // The tick falls in the same millisecond as the last transfer event: with
    // no pause set it still starts both rows.
    Clock::setSource([] { return QDateTime(QDate(2024, 5, 1), QTime(13, 30, 15, 500)); });
    state.markTransferEvent();
    scheduler->tick();
    Clock::setSource({});
    EXPECT_EQ(row(0).name, "dup");
    EXPECT_EQ(row(1).name, "dup[001]");
    ASSERT_TRUE(runAll());
    EXPECT_EQ(readFile(path("dup.pdf")), demo::makeDocument("pdf", "x"));
    EXPECT_EQ(readFile(path("dup[001].pdf")), demo::makeDocument("pdf", "y"));
}

TEST_F(MethodTwo, NoLengthEndsDoneWithTheFileLength)
{
    add("/t/chunked/5000", "chunked", "bin");
    add("/doc/chunked/c.doc", "c", "doc");
    ASSERT_TRUE(runAll());
    const std::vector<QByteArray> want = {transferBytes(5000), demo::makeDocument("doc", "c")};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColSize), QString::number(want[size_t(i)].size()));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColReceived), QString::number(want[size_t(i)].size()));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "100%");
        EXPECT_EQ(readFile(itemFilePath(row(i))), want[size_t(i)]);
    }
}

TEST_F(MethodTwo, SizeLimitSkipsAtTheFirstProgress)
{
    globals().maxFileSizeMB = 1;
    add("/t/file/3000000", "big", "bin");
    add("/t/file/1048576", "exact", "bin");
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).state, DownloadState::Done);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColSize), "3000000");
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColProgress), "大文件，跳过");
    // The placeholder does not stay behind to pose as the document.
    EXPECT_FALSE(QFileInfo::exists(path("big.bin")));
    EXPECT_EQ(cellText(row(1), DownloadListModel::ColProgress), "100%");
    EXPECT_EQ(readFile(path("exact.bin")), transferBytes(1048576));
    QTest::qWait(100);
    EXPECT_TRUE(partFiles().isEmpty());
}

TEST_F(MethodTwo, StallAndCutFailAndRemoveThePlaceholder)
{
    timings().transferStall = 400ms;
    add("/t/stall/100000?after=4096&hold_ms=1500", "stalled", "bin");
    add("/t/cut/10000?after=3000", "cut", "bin");
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColSize), "100000");
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColProgress), "4%");
    EXPECT_EQ(row(1).state, DownloadState::Failed);
    EXPECT_EQ(cellText(row(1), DownloadListModel::ColProgress), "30%");
    EXPECT_FALSE(QFileInfo::exists(path("stalled.bin")));
    EXPECT_FALSE(QFileInfo::exists(path("cut.bin")));
    QTest::qWait(100);
    EXPECT_TRUE(partFiles().isEmpty());
}

TEST_F(MethodTwo, WebPagesAreRecognisedAfterTheTransfer)
{
    // A login page in place of the document, and a 403 refusal page with a length.
    add("/doc/protected/report.pdf", "report", "pdf");
    add("/t/status/403", "missing", "pdf");
    ASSERT_TRUE(runAll());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);  // the state is not touched
        EXPECT_EQ(row(i).fileType, "htm");
    }
    EXPECT_TRUE(readFile(path("report.htm")).contains("PassWord"));
    EXPECT_TRUE(readFile(path("missing.htm")).contains("Error 403"));
    EXPECT_FALSE(QFileInfo::exists(path("report.pdf")));
    EXPECT_EQ(host.cueCount(101), 2);
    EXPECT_EQ(host.cueCount(103), 0);
    EXPECT_EQ(list.countBadRows(), 2);
}

TEST_F(MethodTwo, AmpersandEntityIsRequestedAsAmpersand)
{
    add("/t/headers?a=1&amp;b=2", "h", "txt");
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).state, DownloadState::Done);
    const QByteArray body = readFile(itemFilePath(row(0)));
    EXPECT_TRUE(body.startsWith("GET /t/headers?a=1&b=2 ")) << body.constData();
    // Method two sends no referring page.
    EXPECT_FALSE(body.contains("Referer:"));
}

TEST_F(MethodTwo, StopFailsRunningRowsAndUnloadsEveryControl)
{
    host.autoStartOption = true;
    host.autoRedownloadOption = true;
    for (int i = 0; i < 4; ++i)
        add(QStringLiteral("/t/slow/200000?piece=2000&delay_ms=20&n=%1").arg(i), QStringLiteral("s%1").arg(i), "bin");
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cellText(row(0), DownloadListModel::ColReceived).toLongLong() > 0; }, 5000));
    scheduler->stopDownloading();
    EXPECT_EQ(count(DownloadState::Failed), 3);
    EXPECT_EQ(count(DownloadState::Waiting), 1);
    EXPECT_EQ(scheduler->countTransferControls(), 1);
    EXPECT_FALSE(state.transferBusy);
    EXPECT_FALSE(state.downloadsActive());
    EXPECT_FALSE(host.autoStartOption);
    EXPECT_FALSE(host.autoRedownloadOption);
    const QString shown = cellText(row(0), DownloadListModel::ColReceived);
    QTest::qWait(300);
    // Nothing reports late.
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColReceived), shown);
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_TRUE(partFiles().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path("s0.bin")));
}

TEST_F(MethodTwo, NothingComingBackFailsAfterTheFallback)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    list.addItem(QStringLiteral("http://127.0.0.1:%1/x.pdf").arg(port), "refused", "pdf", folder(), "");
    const float before = state.lastTransferEventTime;
    QTest::qWait(20);
    ASSERT_TRUE(runAll(5000));
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColProgress), "");
    EXPECT_NE(state.lastTransferEventTime, before);
    EXPECT_FALSE(QFileInfo::exists(path("refused.pdf")));
}

TEST_F(MethodTwo, AFolderThatCannotBeMadeFailsOnlyItsRow)
{
    QFile blocker(path("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    list.addItem(url("/doc/a.pdf"), "a", "pdf", path("blocker") + "/sub/", "");
    add("/doc/b.pdf", "b", "pdf");
    scheduler->tick();
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_EQ(row(1).state, DownloadState::Downloading);
    EXPECT_EQ(state.slotRows[1], 2);
    ASSERT_TRUE(runAll());
    EXPECT_EQ(readFile(path("b.pdf")), demo::makeDocument("pdf", "b"));
}

TEST_F(MethodTwo, OverwriteKeepsTheOldFileUntilTheNewOneIsComplete)
{
    timings().transferStall = 400ms;
    host.policy = SameNamePolicy::Overwrite;
    for (const QString n : {"o1", "o2"}) {
        QFile f(path(n + ".bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    add("/t/stall/100000?after=4096&hold_ms=1500", "o1", "bin");
    add("/t/file/2000", "o2", "bin");
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_EQ(readFile(path("o1.bin")), "old");
    EXPECT_EQ(row(1).state, DownloadState::Done);
    EXPECT_EQ(readFile(path("o2.bin")), transferBytes(2000));
}

TEST_F(MethodTwo, SwitchingTheMethodLeavesRunningTransfersAlone)
{
    add("/t/slow/20000?piece=2000&delay_ms=20", "m", "bin");
    scheduler->tick();
    ASSERT_NE(scheduler->downloader(1), nullptr);
    state.downloadMethod = 1;
    ASSERT_TRUE(waitFinished());
    EXPECT_EQ(row(0).state, DownloadState::Done);
    EXPECT_EQ(readFile(path("m.bin")), transferBytes(20000));
}

TEST_F(MethodTwo, EmptyListSwitchesTheSchedulerOff)
{
    scheduler->startDownloading();
    EXPECT_TRUE(scheduler->running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scheduler->running(); }, 2000));
}

TEST(DownloaderControl, ProgressCompletionAndErrorEvents)
{
    demo::DemoService service;
    ASSERT_TRUE(service.start());
    CurlTransferEngine engine;
    setTransferEngine(&engine);
    QTemporaryDir dir;
    const Timings saved = timings();
    timings().tick = 50ms;
    {
        Downloader d;
        std::vector<std::pair<qint64, qint64>> progress;
        std::vector<std::pair<qint64, qint64>> complete;
        QStringList errors;
        QString expectedFile = dir.filePath("a.bin");
        QObject::connect(&d, &Downloader::downloadProgress,
                         [&](qint64 r, qint64 t, const QString& f) {
                             progress.emplace_back(r, t);
                             EXPECT_EQ(f, expectedFile);
                         });
        QObject::connect(&d, &Downloader::downloadComplete,
                         [&](qint64 r, qint64 t, const QString&) { complete.emplace_back(r, t); });
        QObject::connect(&d, &Downloader::downloadError, [&](const QString& why, const QString&) { errors << why; });
        d.beginDownload(service.baseUrl() + "/t/slow/8000?piece=1000&delay_ms=10", dir.filePath("a.bin"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !complete.empty() || !errors.isEmpty(); }, 5000));
        EXPECT_TRUE(errors.isEmpty());
        ASSERT_EQ(complete.size(), 1u);
        EXPECT_EQ(complete[0], std::make_pair(qint64(8000), qint64(8000)));
        ASSERT_FALSE(progress.empty());
        for (size_t i = 1; i < progress.size(); ++i)
            EXPECT_GE(progress[i].first, progress[i - 1].first);
        EXPECT_EQ(progress.back().second, 8000);

        // The same instance for a second transfer that stalls: "超时", once.
        timings().transferStall = 300ms;
        complete.clear();
        progress.clear();
        expectedFile = dir.filePath("b.bin");
        d.beginDownload(service.baseUrl() + "/t/stall/50000?after=1000&hold_ms=1200", dir.filePath("b.bin"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.isEmpty(); }, 5000));
        QTest::qWait(200);
        EXPECT_EQ(errors, QStringList{"超时"});
        EXPECT_TRUE(complete.empty());
    }
    setTransferEngine(nullptr);
    timings() = saved;
}

// A server that sends its body without a length, in small pieces, for
// longer than the stall time: a slow transfer, not a stalled one.
TEST(DownloaderControl, SlowBodyWithoutLengthIsNotGivenUp)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QByteArray sent;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        auto* timer = new QTimer(socket);
        auto pieces = std::make_shared<int>(0);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, timer] {
            if (!socket->readAll().contains("\r\n\r\n") || timer->isActive())
                return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
            timer->start(50);
        });
        QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, pieces, &sent] {
            if (++*pieces > 20) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            const QByteArray piece(100, char('a' + *pieces % 26));
            sent += piece;
            socket->write(piece);
        });
    });
    QTemporaryDir dir;
    const Timings saved = timings();
    timings().tick = 50ms;
    timings().transferStall = 300ms;
    {
        Downloader d;
        QStringList errors;
        std::vector<qint64> done;
        QObject::connect(&d, &Downloader::downloadComplete, [&](qint64 r, qint64, const QString&) { done.push_back(r); });
        QObject::connect(&d, &Downloader::downloadError, [&](const QString& why, const QString&) { errors << why; });
        d.beginDownload(QStringLiteral("http://127.0.0.1:%1/slow").arg(server.serverPort()), dir.filePath("s.bin"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !done.empty() || !errors.isEmpty(); }, 5000));
        EXPECT_TRUE(errors.isEmpty());
        ASSERT_EQ(done, std::vector<qint64>{2000});
        QFile f(dir.filePath("s.bin"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), sent);
    }
    timings() = saved;
}

} // namespace
} // namespace dh::test

namespace dh::test {
namespace {

TEST_F(MethodTwo, BodiesWithoutALengthAreHeldToTheSizeLimit)
{
    globals().maxFileSizeMB = 1;
    add("/t/chunked/3145728", "chunked", "bin");
    add("/t/close/3145728", "closed", "bin");
    ASSERT_TRUE(runAll());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "大文件，跳过");
    }
    QTest::qWait(100);
    EXPECT_TRUE(entries().isEmpty());
}

// A 300-character Chinese title is saved (cut to fit), numbered too.
TEST_F(MethodTwo, LongTitlesAreSaved)
{
    const QString title(300, QChar(0x4E2D));
    add("/t/file/1000?a", title, "pdf");
    add("/t/file/1000?b", title, "pdf");
    ASSERT_TRUE(runAll());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(readFile(itemFilePath(row(i))), transferBytes(1000));
    }
    EXPECT_EQ(entries().size(), 2);
}

} // namespace
} // namespace dh::test
