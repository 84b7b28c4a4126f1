#include "DownloadFixture.h"

#include "app/SettingsStore.h"
#include "download/MethodOneTransfer.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

class MethodOne : public DownloadFixture {
protected:
    void SetUp() override
    {
        DownloadFixture::SetUp();
        state.downloadMethod = 1;
    }
    const DownloadItem& row(int i) const { return list.item(i); }
};

TEST_F(MethodOne, SendsTheRefererOrTheAddressHostAndFillsTheCells)
{
    add("/t/headers?n=1", "given", "txt", "http://ref.example/page?x=1");
    add("/t/headers?n=2", "empty", "txt");
    ASSERT_TRUE(runAll());

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(row(i).fileType, "txt");  // text/plain names the type
        const QByteArray body = readFile(itemFilePath(row(i)));
        ASSERT_FALSE(body.isEmpty());
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColSize), QString::number(body.size()));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColReceived), QString::number(body.size()));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "100%");
    }
    EXPECT_TRUE(readFile(itemFilePath(row(0))).contains("\r\nReferer: http://ref.example/page?x=1"));
    EXPECT_TRUE(readFile(itemFilePath(row(1))).contains(("\r\nReferer: " + m_service.baseUrl()).toUtf8() + "\r\n"));
    EXPECT_EQ(host.finishedFile, "empty");
    EXPECT_EQ(host.connection, "12 该请求已经完成，并且所有数据均已接收到。");
    EXPECT_EQ(host.ended, (std::vector<int>{0, 1}));
    EXPECT_TRUE(host.cues.empty());
}

TEST_F(MethodOne, ContentTypeAndContentDecideTheType)
{
    struct Case {
        QString path, name, type, wantType;
        QByteArray body;
    };
    const std::vector<Case> cases = {
        // The announced type replaces the guessed one; parameters are cut off.
        {"/doc/charset/a.pdf", "a", "doc", "pdf", demo::makeDocument("pdf", "a")},
        // application/octet-stream tells nothing: the row keeps its type.
        {"/t/file/3000", "b", "caj", "caj", transferBytes(3000)},
        // The server says text/html, the bytes are a PDF: the content wins.
        {"/doc/wrongtype/c.pdf", "c", "pdf", "pdf", demo::makeDocument("pdf", "c")},
        // A Word document under its own type.
        {"/doc/d.doc", "d", "xxx", "doc", demo::makeDocument("doc", "d")},
    };
    for (const auto& c : cases)
        add(c.path, c.name, c.type);
    ASSERT_TRUE(runAll());
    for (int i = 0; i < int(cases.size()); ++i) {
        SCOPED_TRACE(cases[size_t(i)].path.toStdString());
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(row(i).fileType, cases[size_t(i)].wantType);
        EXPECT_EQ(row(i).name, cases[size_t(i)].name);
        EXPECT_EQ(readFile(itemFilePath(row(i))), cases[size_t(i)].body);
    }
    // The wrongly announced one was saved as .html first and moved.
    EXPECT_FALSE(QFileInfo::exists(path("c.html")));
    EXPECT_EQ(entries(), (QStringList{"a.pdf", "b.caj", "c.pdf", "d.doc"}));
}

TEST_F(MethodOne, SizeLimitAllowsExactlyTheLimit)
{
    globals().maxFileSizeMB = 1;
    add("/t/file/1048576", "exact", "bin");
    add("/t/file/1048577", "over", "bin");
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).state, DownloadState::Done);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColProgress), "100%");
    EXPECT_EQ(readFile(path("exact.bin")), transferBytes(1048576));
    EXPECT_EQ(row(1).state, DownloadState::Done);
    EXPECT_EQ(cellText(row(1), DownloadListModel::ColSize), "1048577");
    EXPECT_EQ(cellText(row(1), DownloadListModel::ColReceived), "");
    EXPECT_EQ(cellText(row(1), DownloadListModel::ColProgress), "大文件，跳过");
    EXPECT_FALSE(QFileInfo::exists(path("over.bin")));
}

TEST_F(MethodOne, NoLengthFetchesTheBodyInOnePiece)
{
    add("/t/chunked/5000", "chunked", "bin");
    add("/t/close/7000", "closed", "bin");
    add("/doc/chunked/e.pdf", "e", "pdf");
    ASSERT_TRUE(runAll());
    const QByteArray pdf = demo::makeDocument("pdf", "e");
    const std::vector<QByteArray> want = {transferBytes(5000), transferBytes(7000), pdf};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColSize), QString::number(want[size_t(i)].size()));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColReceived), QString::number(want[size_t(i)].size()));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "100%");
        EXPECT_EQ(readFile(itemFilePath(row(i))), want[size_t(i)]);
    }
    // No temporary file is left beside them.
    EXPECT_EQ(entries(), (QStringList{"chunked.bin", "closed.bin", "e.pdf"}));
}

TEST_F(MethodOne, StopCancelsDeletesThePartAndClearsBusy)
{
    add("/t/slow/400000?piece=4096&delay_ms=10", "slow", "bin");
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cellText(row(0), DownloadListModel::ColReceived).toLongLong() > 0; }, 10000));
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColSize), "400000");
    EXPECT_TRUE(state.transferBusy());
    EXPECT_TRUE(state.stillExecuting());
    EXPECT_TRUE(state.downloadsActive());
    scheduler->stopDownloading();
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_FALSE(state.transferBusy());
    EXPECT_FALSE(scheduler->running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return cellText(row(0), DownloadListModel::ColProgress) == "下载取消"; }, 5000));
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_FALSE(QFileInfo::exists(path("slow.bin")));
    EXPECT_FALSE(state.stillExecuting());
    EXPECT_EQ(host.clearCalls, 1);
    EXPECT_EQ(host.finishedFile, "slow");
}

TEST_F(MethodOne, StopWhileWaitingForTheAnswerLeavesAnOldFileAlone)
{
    host.policy = SameNamePolicy::Overwrite;
    {
        QFile f(path("kept.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    add("/t/silent?hold_ms=800", "kept", "bin");
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.stillExecuting(); }, 5000));
    scheduler->stopDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cellText(row(0), DownloadListModel::ColProgress) == "下载取消"; }, 5000));
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_EQ(readFile(path("kept.bin")), "old");
}

TEST_F(MethodOne, StallFailsAndLeavesNoPart)
{
    timings().transferStall = 400ms;
    add("/t/stall/100000?after=4096&hold_ms=1500", "stalled", "bin");
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(runAll());
    EXPECT_LT(t.elapsed(), 1400);
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColSize), "100000");
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColReceived), "4096");
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColProgress), "4%");
    // The part is not left under the document's name.
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_EQ(host.cueCount(103), 1);
}

TEST_F(MethodOne, CutConnectionFailsWithoutWaitingForTheStall)
{
    add("/t/cut/10000?after=3000", "cut", "bin");
    ASSERT_TRUE(runAll(5000));
    EXPECT_EQ(row(0).state, DownloadState::Failed);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColReceived), "3000");
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColProgress), "30%");
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(MethodOne, NoResponseFailsWithEmptyCells)
{
    timings().inetHeaderWait = 300ms;
    add("/t/silent?hold_ms=1000", "silent", "bin");
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    list.addItem(QStringLiteral("http://127.0.0.1:%1/x.pdf").arg(port), "refused", "pdf", folder(), "");
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(runAll());
    EXPECT_LT(t.elapsed(), 900);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Failed);
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColSize), "");
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColReceived), "");
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "");
    }
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(MethodOne, SameNamePolicyAtTheFinalPath)
{
    auto write = [&](const QString& name, const QByteArray& data) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    };
    write("r.pdf", "old");
    // The row says "doc" but the server says pdf: the existing file is found
    // only at the final path.
    add("/doc/r.pdf", "r", "doc");
    host.policy = SameNamePolicy::Rename;
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).name, "r[001]");
    EXPECT_EQ(readFile(path("r[001].pdf")), demo::makeDocument("pdf", "r"));
    EXPECT_EQ(readFile(path("r.pdf")), "old");

    // Under the skip policy the file at the final path is never touched.
    list.clear();
    add("/doc/r.pdf", "r", "doc");
    host.policy = SameNamePolicy::Skip;
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).name, "r");
    EXPECT_EQ(row(0).state, DownloadState::Done);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColProgress), "已存在，跳过");
    EXPECT_EQ(readFile(path("r.pdf")), "old");
}

TEST_F(MethodOne, BusyControlSendsTheRowBackToWaiting)
{
    add("/doc/w.pdf", "w", "pdf");
    list.setState(0, DownloadState::Downloading);
    state.beginTransfer();
    QCoro::waitFor(scheduler->methodOne().downloadCurrentFile(0));
    EXPECT_EQ(row(0).state, DownloadState::Waiting);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColSize), "等待重新下载");
    EXPECT_FALSE(QFileInfo::exists(path("w.pdf")));
    // A later turn picks it again.
    state.endTransfer();
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).state, DownloadState::Done);
    EXPECT_EQ(cellText(row(0), DownloadListModel::ColSize), QString::number(demo::makeDocument("pdf", "w").size()));
}

TEST_F(MethodOne, OneTickSkipsExistingFilesAndStartsTheNextRow)
{
    host.policy = SameNamePolicy::Skip;
    for (const QString n : {"a", "b", "c"}) {
        QFile f(path(n + ".pdf"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(n.toUtf8().repeated(n[0].unicode() - 'a' + 1));
        add("/doc/" + n + ".pdf", n, "pdf");
    }
    add("/doc/new.pdf", "new", "pdf");
    // A nested tick while the transfer runs finds the transfer busy.
    scheduler->tick();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColProgress), "已存在，跳过");
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColSize), QString::number(i + 1));
        EXPECT_EQ(cellText(row(i), DownloadListModel::ColReceived), QString::number(i + 1));
    }
    EXPECT_EQ(row(3).state, DownloadState::Downloading);
    EXPECT_EQ(host.startedFile, "new");
    EXPECT_TRUE(state.transferBusy());
    scheduler->tick();
    ASSERT_TRUE(waitFinished());
    EXPECT_EQ(row(3).state, DownloadState::Done);
    EXPECT_EQ(readFile(path("a.pdf")), "a");
    EXPECT_EQ(readFile(path("new.pdf")), demo::makeDocument("pdf", "new"));
}

TEST_F(MethodOne, PauseBetweenFilesCountsFromTheLastEnd)
{
    // 3 "seconds" of 100 ms each.
    host.pause = 3;
    add("/t/file/1000", "p1", "bin");
    add("/t/file/1001", "p2", "bin");
    QElapsedTimer clock;
    clock.start();
    qint64 firstEnded = -1, secondStarted = -1;
    QObject::connect(&scheduler->methodOne(), &MethodOneTransfer::transferEnded, [&](int r, bool) {
        if (r == 0)
            firstEnded = clock.elapsed();
    });
    QObject::connect(scheduler.get(), &DownloadScheduler::rowStarted, [&](int r) {
        if (r == 1)
            secondStarted = clock.elapsed();
    });
    state.markTransferEvent();
    ASSERT_TRUE(runAll());
    ASSERT_GE(firstEnded, 0);
    ASSERT_GE(secondStarted, 0);
    EXPECT_GE(secondStarted - firstEnded, 290);
    EXPECT_LT(secondStarted - firstEnded, 1000);
    // The first one waited for the pause after the window's own time stamp too.
    EXPECT_GE(firstEnded, 290);
}

TEST_F(MethodOne, NamedProxyFromTheSettings)
{
    // A stand-in proxy that answers every request itself and keeps what it got.
    QTcpServer proxy;
    ASSERT_TRUE(proxy.listen(QHostAddress::LocalHost, 0));
    QByteArray request;
    QObject::connect(&proxy, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = proxy.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &request] {
            request += socket->readAll();
            if (request.contains("\r\n\r\n")) {
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 9\r\nContent-Type: application/pdf\r\n"
                              "Connection: close\r\n\r\nvia proxy");
                socket->disconnectFromHost();
            }
        });
    });
    QTemporaryDir settingsDir;
    SettingsStore store(settingsDir.filePath("s.ini"));
    store.save(keys::proxyEnabled, "2");  // any non-zero number is on, as the options dialog reads it
    store.save(keys::proxyHost, "127.0.0.1");
    store.save(keys::proxyPort, QString::number(proxy.serverPort()));
    scheduler->loadSettings(store);
    list.addItem("http://docs.invalid/paper.pdf", "paper", "pdf", folder(), "http://docs.invalid/list");
    ASSERT_TRUE(runAll(5000));
    EXPECT_EQ(row(0).state, DownloadState::Done);
    EXPECT_EQ(readFile(path("paper.pdf")), "via proxy");
    EXPECT_TRUE(request.startsWith("GET http://docs.invalid/paper.pdf HTTP/1.1\r\n")) << request.constData();
    EXPECT_TRUE(request.contains("\r\nReferer: http://docs.invalid/list\r\n"));
}

TEST_F(MethodOne, RedirectsAreFollowed)
{
    add("/t/redirect/3?to=/doc/z.pdf", "z", "pdf");
    ASSERT_TRUE(runAll());
    EXPECT_EQ(row(0).state, DownloadState::Done);
    EXPECT_EQ(readFile(path("z.pdf")), demo::makeDocument("pdf", "z"));
}

} // namespace
} // namespace dh::test

namespace dh::test {
namespace {

// Under the overwrite policy the old file stays whole until a complete new
// body replaces it: a stall or a cut leaves it as it was.
TEST_F(MethodOne, OverwriteKeepsTheOldFileWhenTheTransferFails)
{
    timings().transferStall = 400ms;
    host.policy = SameNamePolicy::Overwrite;
    for (const QString n : {"s", "c"}) {
        QFile f(path(n + ".bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    add("/t/stall/100000?after=4096&hold_ms=1500", "s", "bin");
    add("/t/cut/10000?after=3000", "c", "bin");
    ASSERT_TRUE(runAll());
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(row(i).state, DownloadState::Failed);
    EXPECT_EQ(readFile(path("s.bin")), "old");
    EXPECT_EQ(readFile(path("c.bin")), "old");
    EXPECT_EQ(entries(), (QStringList{"c.bin", "s.bin"}));
}

// The size limit holds for bodies without a length too: the transfer stops
// once the bytes pass the limit and nothing of it stays.
TEST_F(MethodOne, BodiesWithoutALengthAreHeldToTheSizeLimit)
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
    EXPECT_TRUE(entries().isEmpty());
}

// An extension comes from the Content-Type table or a short plain token,
// never from a header that names a script or a path.
TEST_F(MethodOne, OnlyCleanContentTypesBecomeTheExtension)
{
    const struct {
        const char* type;
        const char* want;
    } rows[] = {
        {"script.sh", "bin"}, {"launcher.desktop", "bin"}, {"..%2F..%2Fx", "bin"}, {"pdf", "pdf"},
        {"application/pdf", "pdf"},
    };
    for (const auto& r : rows)
        add(QStringLiteral("/t/file/100?type=") + QString::fromUtf8(r.type), QString::fromUtf8(r.type).left(6), "bin");
    ASSERT_TRUE(runAll());
    for (int i = 0; i < int(std::size(rows)); ++i) {
        SCOPED_TRACE(rows[i].type);
        EXPECT_EQ(row(i).state, DownloadState::Done);
        EXPECT_EQ(row(i).fileType, QString::fromUtf8(rows[i].want));
    }
}

} // namespace
} // namespace dh::test

#include <QCoroTimer>

namespace dh::test {
namespace {

// A stop and a new start while the end hook (the automatic login) of the
// last transfer still runs: the old transfer must not free the busy flag
// under the new one, which would then cancel itself and delete its part.
TEST_F(MethodOne, StopAndStartDuringTheEndHookLeaveTheNewTransferAlone)
{
    bool inHook = false;
    scheduler->methodOne().setTransferEndHook([&inHook](int) -> QCoro::Task<> {
        inHook = true;
        co_await QCoro::sleepFor(600ms);
        inHook = false;
    });
    add("/t/file/1000", "first", "bin");
    add("/t/slow/400000?piece=4096&delay_ms=10", "second", "bin");
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return inHook; }, 10000));
    scheduler->stopDownloading();
    scheduler->startDownloading();
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(1).state != DownloadState::Waiting; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !inHook; }, 5000));
    EXPECT_TRUE(state.transferBusy());
    ASSERT_TRUE(waitFinished(20000));
    EXPECT_EQ(row(1).state, DownloadState::Done);
    EXPECT_EQ(readFile(path("second.bin")), transferBytes(400000));
    scheduler->methodOne().setTransferEndHook({});
}

} // namespace
} // namespace dh::test
