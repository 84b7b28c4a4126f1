#include "TransferFixture.h"
#include "download/TransferSupport.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QCoroSignal>
#include <QCoroTimer>

#include <csignal>
#include <sys/resource.h>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

using Failure = TransferRequest::Failure;

struct Recorder {
    QList<int> states;
    QList<QPair<qint64, qint64>> progress;
    explicit Recorder(TransferRequest& r)
    {
        QObject::connect(&r, &TransferRequest::stateChanged, [this](int s) { states << s; });
        QObject::connect(&r, &TransferRequest::progress, [this](qint64 a, qint64 b) { progress << qMakePair(a, b); });
    }
};

TEST_F(TransferFixture, HeadersAndRawHeaderBlock)
{
    auto r = m_engine->execute(url("/t/file/5000?type=application/pdf"));
    Recorder rec(*r);
    EXPECT_TRUE(r->stillExecuting());
    EXPECT_EQ(r->getHeader(), QString()) << "no response yet, no header block";
    ASSERT_TRUE(QCoro::waitFor(r->waitForHeaders(10s)));

    EXPECT_EQ(r->httpStatus(), 200);
    EXPECT_EQ(r->getHeader(QStringLiteral("content-length")), QStringLiteral("5000"));
    EXPECT_EQ(r->getHeader(QStringLiteral("CONTENT-TYPE")), QStringLiteral("application/pdf"));
    EXPECT_EQ(r->getHeader(QStringLiteral("X-Not-There")), QString());
    EXPECT_EQ(r->bytesTotal(), 5000);

    const QString block = r->getHeader();
    EXPECT_TRUE(block.startsWith(QStringLiteral("HTTP/1.1 200 OK\r\n"))) << block.toStdString();
    const QStringList lines = block.split(QStringLiteral("\r\n"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Content-Length: 5000"))) << block.toStdString();
    for (const QString& line : lines) {
        EXPECT_FALSE(line.isEmpty()) << "no empty line inside the block";
        EXPECT_FALSE(line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')));
    }

    r->keepBodyInMemory();
    finish(*r);
    EXPECT_TRUE(r->succeeded());
    EXPECT_FALSE(r->stillExecuting());
    EXPECT_EQ(r->takeBody(), expected(5000));
    // Connecting, request sent, receiving, completed - in that order.
    EXPECT_EQ(rec.states, (QList<int>{TransferStateConnecting, TransferStateRequestSent, TransferStateReceiving,
                                      TransferStateCompleted}));
}

TEST_F(TransferFixture, ExtraHeaderLinesAreSent)
{
    TransferOptions o;
    o.headerLines = "Referer: http://127.0.0.1:9/list.htm\r\n";
    auto r = m_engine->execute(url("/t/headers"), o);
    r->keepBodyInMemory();
    finish(*r);
    ASSERT_TRUE(r->succeeded());
    const QString echo = QString::fromLatin1(r->takeBody());
    EXPECT_TRUE(echo.startsWith(QStringLiteral("GET /t/headers HTTP/1.1"))) << echo.toStdString();
    EXPECT_TRUE(echo.contains(QStringLiteral("\r\nReferer: http://127.0.0.1:9/list.htm"))) << echo.toStdString();
    // Bodies come as stored, never re-encoded by the layer.
    EXPECT_TRUE(echo.contains(QStringLiteral("\r\nAccept-Encoding: identity"))) << echo.toStdString();
}

// Bodies of every framing reach the file whole, with (read, total-or-0) progress.
struct BodyCase {
    const char* name;
    const char* path;
    qint64 size;
    qint64 total;  // what progress reports as the total
};

class BodyTest : public TransferFixture, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(BodyTest, StreamsIntoFileWithProgress)
{
    const BodyCase c = GetParam();
    for (SaveMode mode : {SaveMode::Direct, SaveMode::ReplaceOnCompletion}) {
        SCOPED_TRACE(mode == SaveMode::Direct ? "direct" : "replace");
        const QString target = path(QStringLiteral("body.bin"));
        QFile::remove(target);
        auto r = m_engine->execute(url(QString::fromLatin1(c.path)));
        Recorder rec(*r);
        ASSERT_TRUE(r->saveBodyTo(target, mode));
        finish(*r);
        EXPECT_TRUE(r->succeeded()) << r->responseInfo().toStdString();
        EXPECT_EQ(r->bytesRead(), c.size);
        EXPECT_EQ(r->bytesTotal(), c.total);
        EXPECT_EQ(readFile(target), expected(c.size));
        ASSERT_FALSE(rec.progress.isEmpty());
        qint64 last = 0;
        for (const auto& [read, total] : rec.progress) {
            EXPECT_EQ(total, c.total);
            EXPECT_GE(read, last);
            last = read;
        }
        EXPECT_EQ(rec.progress.last().first, c.size);
        EXPECT_EQ(entries(), QStringList{QStringLiteral("body.bin")}) << "no temporary file left";
    }
}

INSTANTIATE_TEST_SUITE_P(Framings, BodyTest,
                         ::testing::Values(BodyCase{"length", "/t/file/3000000", 3000000, 3000000},
                                           BodyCase{"chunked", "/t/chunked/1000000", 1000000, 0},
                                           BodyCase{"close", "/t/close/700000", 700000, 0},
                                           BodyCase{"slow", "/t/slow/40000?piece=4000&delay_ms=5", 40000, 40000},
                                           BodyCase{"empty", "/t/file/0", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferFixture, ErrorStatusesDeliverTheirBody)
{
    for (int code : {404, 500}) {
        auto r = m_engine->execute(url(QStringLiteral("/t/status/%1").arg(code)));
        r->keepBodyInMemory();
        finish(*r);
        // The server answered: a transfer that worked, with the error page as body.
        EXPECT_TRUE(r->succeeded()) << code << " " << r->responseInfo().toStdString();
        EXPECT_EQ(r->httpStatus(), code);
        EXPECT_TRUE(r->getHeader().startsWith(QStringLiteral("HTTP/1.1 %1 ").arg(code))) << r->getHeader().toStdString();
        EXPECT_TRUE(r->takeBody().contains(QByteArray("Error ") + QByteArray::number(code)));
        EXPECT_EQ(r->responseCode(), 0);
    }
}

TEST_F(TransferFixture, FollowsRedirectsUpToTen)
{
    demo::DemoService other;
    ASSERT_TRUE(other.start());
    const QString elsewhere = QStringLiteral("http://localhost:%1/t/file/777").arg(other.port());
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(elsewhere));
    struct Case {
        QString path;
        bool ok;
        qint64 size;
    } cases[] = {
        {QStringLiteral("/t/redirect/1?code=301"), true, 1000},
        {QStringLiteral("/t/redirect/3?code=302"), true, 1000},
        {QStringLiteral("/t/redirect/2?code=307&to=") + encoded, true, 777},  // other origin
        {QStringLiteral("/t/redirect/10"), true, 1000},                         // ten hops: the limit
        {QStringLiteral("/t/redirect/11"), false, 0},
        {QStringLiteral("/t/loop/0"), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        auto r = m_engine->execute(url(c.path));
        r->keepBodyInMemory();
        finish(*r);
        EXPECT_EQ(r->succeeded(), c.ok) << r->responseInfo().toStdString();
        if (c.ok) {
            EXPECT_EQ(r->httpStatus(), 200);
            EXPECT_TRUE(r->getHeader().startsWith(QStringLiteral("HTTP/1.1 200 OK")));
            EXPECT_EQ(r->takeBody(), expected(c.size));
        } else {
            EXPECT_EQ(r->failure(), Failure::Network);
            EXPECT_EQ(r->responseCode(), int(CURLE_TOO_MANY_REDIRECTS));
        }
    }
    m_engine.reset();  // closes kept-alive connections before `other` stops
}

TEST_F(TransferFixture, CutConnectionFails)
{
    struct Case {
        const char* path;
        SaveMode mode;
    } cases[] = {{"/t/cut/200000?after=60000", SaveMode::Direct},
                 {"/t/cut/200000?after=60000", SaveMode::ReplaceOnCompletion}};
    for (const Case& c : cases) {
        const QString target = path(QStringLiteral("cut.bin"));
        QFile placeholder(target);
        ASSERT_TRUE(placeholder.open(QIODevice::WriteOnly | QIODevice::Truncate));
        placeholder.write(QByteArray("\x01\x00", 2));
        placeholder.close();

        auto r = m_engine->execute(url(QString::fromLatin1(c.path)));
        Recorder rec(*r);
        ASSERT_TRUE(r->saveBodyTo(target, c.mode));
        finish(*r);
        EXPECT_EQ(r->failure(), Failure::Network);
        EXPECT_NE(r->responseCode(), 0);
        EXPECT_FALSE(r->responseInfo().isEmpty());
        ASSERT_FALSE(rec.states.isEmpty());
        EXPECT_EQ(rec.states.last(), TransferStateError);
        // The status bar gives the reason in Chinese, not the library's number.
        EXPECT_EQ(transferFailureText(*r), QStringLiteral("连接被断开（%1）").arg(r->responseInfo()));
        if (c.mode == SaveMode::Direct) {
            // What arrived stays; it is a prefix of the body.
            const QByteArray part = readFile(target);
            EXPECT_LE(part.size(), 60000);
            EXPECT_EQ(part, expected(part.size()));
        } else {
            EXPECT_EQ(readFile(target), QByteArray("\x01\x00", 2)) << "placeholder untouched";
        }
        EXPECT_EQ(entries(), QStringList{QStringLiteral("cut.bin")});
    }
}

TEST_F(TransferFixture, StallEndsTheTransfer)
{
    timings().transferStall = 300ms;
    const QString target = path(QStringLiteral("stall.bin"));
    auto r = m_engine->execute(url("/t/stall/100000?after=4096&hold_ms=1500"));
    ASSERT_TRUE(r->saveBodyTo(target, SaveMode::Direct));
    QElapsedTimer clock;
    clock.start();
    finish(*r);
    EXPECT_EQ(r->failure(), Failure::Stalled);
    EXPECT_EQ(r->responseCode(), transferCodeStalled);
    EXPECT_LT(clock.elapsed(), 1400) << "gave up before the server went on";
    EXPECT_EQ(readFile(target), expected(4096)) << "partial file kept and closed";
}

TEST_F(TransferFixture, SlowButSteadyBodyIsNotAStall)
{
    timings().transferStall = 300ms;
    auto r = m_engine->execute(url("/t/slow/30000?piece=3000&delay_ms=100"));
    r->keepBodyInMemory();
    finish(*r);
    EXPECT_TRUE(r->succeeded()) << r->responseInfo().toStdString();
    EXPECT_EQ(r->takeBody(), expected(30000));
}

TEST_F(TransferFixture, ServerThatNeverAnswers)
{
    timings().transferRequestTimeout = 300ms;
    auto r = m_engine->execute(url("/t/silent?hold_ms=1500"));
    EXPECT_FALSE(QCoro::waitFor(r->waitForHeaders(5s)));
    EXPECT_FALSE(r->stillExecuting());
    EXPECT_EQ(r->failure(), Failure::NoResponse);
    EXPECT_EQ(r->getHeader(), QString());
}

TEST_F(TransferFixture, HeaderWaitTimesOutWhileRequestGoesOn)
{
    auto r = m_engine->execute(url("/t/silent?hold_ms=800"));
    EXPECT_FALSE(QCoro::waitFor(r->waitForHeaders(100ms)));
    EXPECT_TRUE(r->stillExecuting()) << "a caller's wait does not end the request";
    r->cancel();
    EXPECT_FALSE(r->stillExecuting());
    EXPECT_EQ(r->failure(), Failure::Cancelled);
}

TEST_F(TransferFixture, CancelDuringBodyLetsCallerDeleteThePart)
{
    const QString target = path(QStringLiteral("cancel.bin"));
    auto r = m_engine->execute(url("/t/slow/2000000?piece=8192&delay_ms=10"));
    Recorder rec(*r);
    ASSERT_TRUE(r->saveBodyTo(target, SaveMode::Direct));
    QCoro::waitFor([&]() -> QCoro::Task<void> {
        while (r->bytesRead() < 20000 && r->stillExecuting())
            co_await QCoro::sleepFor(5ms);
    }());
    ASSERT_TRUE(r->stillExecuting());
    r->cancel();
    EXPECT_FALSE(r->stillExecuting());
    EXPECT_EQ(r->failure(), Failure::Cancelled);
    const auto progressAtCancel = rec.progress.size();
    EXPECT_TRUE(QFile::remove(target));
    EXPECT_FALSE(QFile::exists(target));
    QCoro::waitFor([]() -> QCoro::Task<void> { co_await QCoro::sleepFor(200ms); }());
    EXPECT_EQ(rec.progress.size(), progressAtCancel) << "nothing arrives after a cancel";
    EXPECT_FALSE(QFile::exists(target)) << "nothing recreates the file";
}

TEST_F(TransferFixture, ReplaceKeepsPlaceholderUntilComplete)
{
    const QString target = path(QStringLiteral("doc.pdf"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\x01\x00", 2));
    }
    auto r = m_engine->execute(url("/t/slow/200000?piece=20000&delay_ms=20"));
    ASSERT_TRUE(r->saveBodyTo(target, SaveMode::ReplaceOnCompletion));
    QList<qint64> targetSizesSeen;
    QObject::connect(r.get(), &TransferRequest::progress,
                     [&](qint64, qint64) { targetSizesSeen << QFileInfo(target).size(); });
    finish(*r);
    ASSERT_TRUE(r->succeeded());
    ASSERT_GT(targetSizesSeen.size(), 2) << "the body came in several pieces";
    for (qint64 s : targetSizesSeen.mid(0, targetSizesSeen.size() - 1))
        EXPECT_EQ(s, 2) << "the placeholder stays until the end";
    EXPECT_EQ(readFile(target), expected(200000));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("doc.pdf")});
}

TEST_F(TransferFixture, FileChosenAfterTheBodyEnded)
{
    // Method one picks its target only after reading the headers; a small
    // body may be complete by then.
    auto r = m_engine->execute(url("/t/file/3000"));
    finish(*r);
    ASSERT_TRUE(r->succeeded());
    const QString target = path(QStringLiteral("late.bin"));
    ASSERT_TRUE(r->saveBodyTo(target, SaveMode::Direct));
    EXPECT_EQ(readFile(target), expected(3000));
    EXPECT_EQ(r->bytesRead(), 3000);

    // A write that fails then still fails the request, small body or large.
    for (const char* size : {"3000", "300000"}) {
        SCOPED_TRACE(size);
        auto full = m_engine->execute(url(QStringLiteral("/t/file/") + QLatin1String(size)));
        finish(*full);
        ASSERT_TRUE(full->succeeded());
        ASSERT_TRUE(full->saveBodyTo(QStringLiteral("/dev/full"), SaveMode::Direct));
        EXPECT_EQ(full->failure(), Failure::DiskWrite);
        EXPECT_FALSE(full->succeeded());
    }
}

TEST_F(TransferFixture, GetChunkDeliversPiecesOfAtMost2048)
{
    auto r = m_engine->execute(url("/t/chunked/50000"));
    QByteArray all;
    int pieces = 0;
    QCoro::waitFor([&]() -> QCoro::Task<void> {
        while (co_await r->waitForData(5s)) {
            const QByteArray piece = r->getChunk(2048);
            EXPECT_LE(piece.size(), 2048);
            all += piece;
            ++pieces;
        }
    }());
    EXPECT_FALSE(r->stillExecuting());
    EXPECT_TRUE(r->succeeded());
    EXPECT_EQ(all, expected(50000));
    EXPECT_GE(pieces, 25);
    EXPECT_TRUE(r->getChunk(2048).isEmpty());
}

// A body nobody takes waits in a bounded buffer (the connection waits
// meanwhile) and then arrives whole in whichever sink is chosen.
TEST_F(TransferFixture, HeldBodyIsBoundedAndArrivesWhole)
{
    constexpr qint64 size = 12'000'000, hold = 4 * 1024 * 1024;
    enum Sink { Pieces, File, Memory };
    for (Sink sink : {Pieces, File, Memory}) {
        SCOPED_TRACE(int(sink));
        auto r = m_engine->execute(url("/t/file/12000000"));
        QCoro::waitFor([&]() -> QCoro::Task<void> {
            while (r->bytesWaiting() < hold && r->stillExecuting())
                co_await QCoro::sleepFor(5ms);
        }());
        ASSERT_TRUE(r->stillExecuting()) << "the body did not wait for its reader";
        EXPECT_LE(r->bytesWaiting(), hold + 512 * 1024);
        QByteArray body;
        if (sink == Pieces) {
            QCoro::waitFor([&]() -> QCoro::Task<void> {
                while (co_await r->waitForData(10s))
                    body += r->getChunk(65536);
            }());
        } else if (sink == File) {
            ASSERT_TRUE(r->saveBodyTo(path(QStringLiteral("held.bin")), SaveMode::ReplaceOnCompletion));
            finish(*r);
            body = readFile(path(QStringLiteral("held.bin")));
        } else {
            r->keepBodyInMemory();
            finish(*r);
            body = r->takeBody();
        }
        EXPECT_TRUE(r->succeeded()) << r->responseInfo().toStdString();
        EXPECT_EQ(r->bytesRead(), size);
        EXPECT_TRUE(body == expected(size)) << body.size();
    }
}

// A handler may delete the request from inside any of its signals; the
// engine goes on with the others.
TEST_F(TransferFixture, HandlersMayDeleteTheRequestInAnySignal)
{
    enum Signal { State, Headers, Progress, Data, Finished };
    for (Signal which : {State, Headers, Progress, Data, Finished}) {
        SCOPED_TRACE(int(which));
        std::unique_ptr<TransferRequest> r = m_engine->execute(url("/t/slow/300000?piece=30000&delay_ms=5"));
        auto other = m_engine->execute(url("/t/file/200000"));
        other->keepBodyInMemory();
        bool deleted = false;
        QObject::connect(r.get(), &QObject::destroyed, [&] { deleted = true; });
        const auto drop = [&] { r.reset(); };
        TransferRequest* p = r.get();
        switch (which) {
        case State: QObject::connect(p, &TransferRequest::stateChanged, drop); break;
        case Headers: QObject::connect(p, &TransferRequest::headersReceived, drop); break;
        case Progress: QObject::connect(p, &TransferRequest::progress, drop); break;
        case Data: QObject::connect(p, &TransferRequest::dataAvailable, drop); break;
        case Finished: QObject::connect(p, &TransferRequest::finished, drop); break;
        }
        finish(*other);
        QCoro::waitFor([&]() -> QCoro::Task<void> {
            for (int i = 0; i < 2000 && !deleted; ++i)
                co_await QCoro::sleepFor(5ms);
        }());
        EXPECT_TRUE(deleted);
        EXPECT_TRUE(other->succeeded()) << other->responseInfo().toStdString();
        EXPECT_EQ(other->takeBody(), expected(200000));
    }
    EXPECT_EQ(QCoro::waitFor(m_engine->openUrl(url("/t/file/10"))), expected(10));
}

TEST_F(TransferFixture, WholeBodyFetch)
{
    EXPECT_EQ(QCoro::waitFor(m_engine->openUrl(url("/t/file/123456"))), expected(123456));
    EXPECT_EQ(QCoro::waitFor(m_engine->openUrl(url("/t/chunked/65537"))), expected(65537));
    EXPECT_EQ(QCoro::waitFor(m_engine->openUrl(url("/t/redirect/2"))), expected(1000));
    // All or nothing.
    EXPECT_TRUE(QCoro::waitFor(m_engine->openUrl(url("/t/cut/100000?after=50000"))).isEmpty());
    demo::DemoService closed;
    ASSERT_TRUE(closed.start());
    const QString gone = closed.baseUrl() + QStringLiteral("/t/file/10");
    closed.stop();
    EXPECT_TRUE(QCoro::waitFor(m_engine->openUrl(gone)).isEmpty());
    EXPECT_TRUE(QCoro::waitFor(m_engine->openUrl(QStringLiteral("notascheme://x/y"))).isEmpty());
}

TEST_F(TransferFixture, DiskFullIsACleanFailure)
{
    // Direct writing into a device that is always full.
    {
        auto r = m_engine->execute(url("/t/file/1000000"));
        ASSERT_TRUE(r->saveBodyTo(QStringLiteral("/dev/full"), SaveMode::Direct));
        finish(*r);
        EXPECT_EQ(r->failure(), Failure::DiskWrite);
        EXPECT_EQ(r->responseCode(), transferCodeDiskWrite);
    }
    // A file-size limit makes the temporary file's writes fail part way; the
    // placeholder must survive and the temporary file must go.
    const QString target = path(QStringLiteral("big.bin"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\x01\x00", 2));
    }
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 512 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto r = m_engine->execute(url("/t/file/4000000"));
    const bool opened = r->saveBodyTo(target, SaveMode::ReplaceOnCompletion);
    if (opened)
        finish(*r);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(opened);
    EXPECT_EQ(r->failure(), Failure::DiskWrite);
    EXPECT_EQ(readFile(target), QByteArray("\x01\x00", 2));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("big.bin")});
}

TEST_F(TransferFixture, UnopenableFileIsReported)
{
    auto r = m_engine->execute(url("/t/file/1000"));
    EXPECT_FALSE(r->saveBodyTo(path(QStringLiteral("no/such/folder/x.bin")), SaveMode::Direct));
    EXPECT_FALSE(r->saveBodyTo(path(QStringLiteral("no/such/folder/x.bin")), SaveMode::ReplaceOnCompletion));
    r->cancel();
}

TEST_F(TransferFixture, DeletingARunningRequestCancelsIt)
{
    auto r = m_engine->execute(url("/t/slow/1000000?piece=4096&delay_ms=10"));
    bool finishedSeen = false;
    QObject::connect(r.get(), &TransferRequest::finished, [&] { finishedSeen = true; });
    ASSERT_TRUE(QCoro::waitFor(r->waitForHeaders(5s)));
    r.reset();
    EXPECT_TRUE(finishedSeen);
    // The loop keeps running fine afterwards.
    EXPECT_EQ(QCoro::waitFor(m_engine->openUrl(url("/t/file/10"))), expected(10));
}

} // namespace
} // namespace dh::test
