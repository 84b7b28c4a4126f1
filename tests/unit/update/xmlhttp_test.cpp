#include "FakeTransfer.h"

#include "net/XmlHttp.h"

#include <QCoroTask>
#include <curl/curl.h>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace dh::test {
namespace {

using Failure = TransferRequest::Failure;

// Everything the host hears, in order.
struct Events {
    QStringList log;  // "change", "arrived", "err:<text>", "ended"
    explicit Events(XmlHttpRequest& c)
    {
        QObject::connect(&c, &XmlHttpRequest::onReadyStateChange, [this] { log << QStringLiteral("change"); });
        QObject::connect(&c, &XmlHttpRequest::dataArrived, [this] { log << QStringLiteral("arrived"); });
        QObject::connect(&c, &XmlHttpRequest::dataFailed, [this](const QString& t) { log << QStringLiteral("err:") + t; });
        QObject::connect(&c, &XmlHttpRequest::requestEnded, [this] { log << QStringLiteral("ended"); });
    }
    QStringList completions() const
    {
        QStringList out;
        for (const QString& e : log)
            if (e != QLatin1String("change"))
                out << e;
        return out;
    }
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST(StatusDescriptions, TableHas601RowsWithTheKnownTexts)
{
    const QStringList& t = statusDescriptions();
    ASSERT_EQ(t.size(), 601);
    int filled = 0;
    for (const QString& s : t)
        filled += s.isEmpty() ? 0 : 1;
    EXPECT_EQ(filled, 41);
    const struct {
        int status;
        const char* text;
    } rows[] = {
        {100, "客户必须继续发出请求"},
        {200, "交易成功"},
        {201, "提示知道新文件的URL"},
        {304, "客户端已经执行了GET，但文件未变化"},
        {404, "没有发现文件?查询或URl"},
        {407, "类似401，用户必须首先在代理服务器上得到授权"},
        {505, "服务器不支持或拒绝支请求头中指定的HTTP版本"},
        {0, ""},
        {418, ""},
        {600, ""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(statusDescription(r.status), QString::fromUtf8(r.text)) << r.status;
    EXPECT_EQ(statusDescription(-1), QString());
    EXPECT_EQ(statusDescription(601), QString());
}

class XmlHttpTest : public ::testing::Test {
protected:
    FakeEngine engine;
    std::unique_ptr<XmlHttpRequest> http = std::make_unique<XmlHttpRequest>(nullptr, &engine);
};

// How each kind of ending reaches the host.
TEST_F(XmlHttpTest, CompletionEventsByStatus)
{
    const struct {
        const char* name;
        int status;          // HTTP status, or 0 for a transport failure
        Failure failure;
        int failureCode;
        QStringList expected;
        int reportedStatus;
    } cases[] = {
        {"200", 200, Failure::None, 0, {"arrived", "ended"}, 200},
        {"404", 404, Failure::None, 0, {"err:没有发现文件?查询或URl", "ended"}, 404},
        {"201 is not success", 201, Failure::None, 0, {"err:提示知道新文件的URL", "ended"}, 201},
        {"304 is not success", 304, Failure::None, 0, {"err:客户端已经执行了GET，但文件未变化", "ended"}, 304},
        {"101 is not success", 101, Failure::None, 0, {"err:客户要求服务器根据请求转换HTTP协议版本", "ended"}, 101},
        {"418 has no text", 418, Failure::None, 0, {"err:", "ended"}, 418},
        {"refused", 0, Failure::Network, CURLE_COULDNT_CONNECT, {"ended"}, xmlHttpStatusCannotConnect},
        {"unknown host", 0, Failure::Network, CURLE_COULDNT_RESOLVE_HOST, {"ended"}, xmlHttpStatusNameNotResolved},
        {"refused certificate", 0, Failure::Tls, CURLE_PEER_FAILED_VERIFICATION, {"ended"}, xmlHttpStatusSecureFailure},
        {"no response", 0, Failure::NoResponse, transferCodeNoResponse, {"ended"}, xmlHttpStatusTimeout},
        {"cut body", 200, Failure::Network, transferCodeIncomplete, {"ended"}, xmlHttpStatusConnectionAborted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto control = std::make_unique<XmlHttpRequest>(nullptr, &engine);
        Events ev(*control);
        ASSERT_TRUE(control->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/x")));
        control->send();
        FakeRequest* r = engine.last();
        ASSERT_TRUE(r);
        if (c.status)
            r->respond(c.status);
        r->data("body");
        if (c.failure == Failure::None)
            r->end();
        else
            r->fail(c.failure, c.failureCode);
        EXPECT_TRUE(ev.log.isEmpty()) << "events come on a later turn of the loop";
        EXPECT_FALSE(control->downOk());
        flushEvents();
        EXPECT_EQ(ev.completions(), c.expected);
        ASSERT_FALSE(ev.log.isEmpty());
        EXPECT_EQ(ev.log.first(), QStringLiteral("change")) << "the state change comes before the verdict";
        EXPECT_TRUE(control->downOk());
        EXPECT_FALSE(control->isWatching());
        EXPECT_EQ(control->readyState(), 4);
        EXPECT_EQ(control->status(), c.reportedStatus);
        EXPECT_EQ(control->responseBody(), c.failure == Failure::None ? QByteArray("body") : QByteArray());
    }
}

TEST_F(XmlHttpTest, ReadyStatesAndResponseMembers)
{
    EXPECT_EQ(http->readyState(), 0);
    EXPECT_EQ(http->status(), 0);
    ASSERT_TRUE(http->open(QStringLiteral("get"), QStringLiteral("http://127.0.0.1:9/a")));
    EXPECT_EQ(http->readyState(), 1);
    http->setRequestHeader(QStringLiteral("Referer"), QStringLiteral("http://site/page"));
    http->setRequestHeader(QStringLiteral("X-Bad"), QStringLiteral("a\r\nInjected: 1"));
    http->setRequestHeader(QStringLiteral("Bad Name"), QStringLiteral("v"));
    http->send(QStringLiteral("q=文档"));
    FakeRequest* r = engine.last();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->options.method, QStringLiteral("GET"));
    EXPECT_EQ(r->options.headerLines, QByteArray("Referer: http://site/page\r\n"));
    EXPECT_EQ(r->options.body, QStringLiteral("q=文档").toUtf8());
    EXPECT_TRUE(r->inMemory);
    EXPECT_TRUE(http->isWatching());
    EXPECT_EQ(http->readyState(), 1);

    r->respond(404, QStringLiteral("Not Found"), {{"Content-Type", "text/plain"}, {"X-Two", "2"}});
    EXPECT_EQ(http->readyState(), 2);
    EXPECT_EQ(http->status(), 404);
    EXPECT_EQ(http->statusText(), QStringLiteral("Not Found"));
    EXPECT_EQ(http->responseHeader(QStringLiteral("content-type")), QStringLiteral("text/plain"));
    EXPECT_EQ(http->allResponseHeaders(), QStringLiteral("Content-Type: text/plain\r\nX-Two: 2\r\n"));
    r->data("abc");
    EXPECT_EQ(http->readyState(), 3);
    EXPECT_TRUE(http->responseBody().isEmpty()) << "the body is there once complete";
    r->end();
    flushEvents();
    EXPECT_EQ(http->readyState(), 4);
    EXPECT_EQ(http->responseBody(), QByteArray("abc"));
    EXPECT_EQ(http->responseText(), QStringLiteral("abc"));
}

TEST_F(XmlHttpTest, SendWithoutFreshOpenDoesNothing)
{
    Events ev(*http);
    http->send();
    EXPECT_TRUE(engine.requests.empty());
    EXPECT_FALSE(http->isWatching());
    // A refused address leaves the control unopened, too.
    EXPECT_FALSE(http->open(QStringLiteral("GET"), QStringLiteral("not an address")));
    http->send();
    EXPECT_TRUE(engine.requests.empty());
    // One open, one send.
    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/a")));
    http->send();
    http->send();
    EXPECT_EQ(engine.requests.size(), 1u);
    engine.last()->answer(200, "x");
    flushEvents();
    http->send();
    flushEvents();
    EXPECT_EQ(engine.requests.size(), 1u);
    EXPECT_EQ(ev.completions(), (QStringList{"arrived", "ended"}));
}

TEST_F(XmlHttpTest, OpenRefusesWhatCannotBeRequested)
{
    const struct {
        const char* method;
        const char* url;
        bool ok;
    } cases[] = {
        {"GET", "http://127.0.0.1:9/newver.txt", true},
        {"post", "https://example.invalid/x?y=1", true},
        {"GET", "", false},
        {"GET", "/relative/path", false},
        {"GET", "ftp://127.0.0.1/file", false},
        {"GET", "file:///etc/passwd", false},
        {"GET", "http://", false},
        {"", "http://127.0.0.1/", false},
        {"GE T", "http://127.0.0.1/", false},
        {"GET\r\nX: 1", "http://127.0.0.1/", false},
    };
    for (const auto& c : cases) {
        XmlHttpRequest control(nullptr, &engine);
        EXPECT_EQ(control.open(QString::fromUtf8(c.method), QString::fromUtf8(c.url)), c.ok) << c.method << " " << c.url;
    }
}

TEST_F(XmlHttpTest, SecondOpenReplacesTheRunningRequestSilently)
{
    Events ev(*http);
    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/first")));
    http->send();
    QPointer<FakeRequest> first = engine.last();
    first->respond(200);
    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/second")));
    EXPECT_FALSE(http->isWatching());
    EXPECT_TRUE(first.isNull() || first->cancelled);
    http->send();
    engine.last()->answer(404);
    flushEvents();
    EXPECT_TRUE(first.isNull()) << "the replaced request is disposed of";
    EXPECT_EQ(ev.completions(), (QStringList{"err:没有发现文件?查询或URl", "ended"}));
    EXPECT_EQ(http->status(), 404);
}

TEST_F(XmlHttpTest, AbortStopsWithoutEventsAndKeepsDownOK)
{
    Events ev(*http);
    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/a")));
    http->send();
    engine.last()->answer(200, "first");
    flushEvents();
    ASSERT_TRUE(http->downOk());
    ev.log.clear();

    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/b")));
    EXPECT_FALSE(http->downOk()) << "Open_ clears DownOK";
    http->send();
    QPointer<FakeRequest> r = engine.last();
    r->respond(200);
    http->abort();
    EXPECT_TRUE(r.isNull() || r->cancelled);
    flushEvents();
    EXPECT_EQ(ev.completions(), QStringList{"ended"}) << "only the end of the watch, no verdict";
    EXPECT_FALSE(http->downOk());
    EXPECT_FALSE(http->isWatching());
    EXPECT_EQ(http->readyState(), 0);
    EXPECT_EQ(http->status(), 0);
}

TEST_F(XmlHttpTest, SavesTheBodyOnlyFor200WithBytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.bin"));
    const QByteArray binary("\x00\x01\xff\r\n\x1a end", 10);
    const struct {
        const char* name;
        int status;
        QByteArray body;
        QByteArray fileAfter;  // what the existing file holds afterwards
    } cases[] = {
        {"200 replaces the file", 200, binary, binary},
        {"200 with no bytes leaves it", 200, QByteArray(), QByteArray("old")},
        {"404 leaves it", 404, QByteArray("<html>404</html>"), QByteArray("old")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("old");
        }
        bool fileAtArrival = false;
        QByteArray seen;
        XmlHttpRequest control(nullptr, &engine);
        QObject::connect(&control, &XmlHttpRequest::dataArrived, [&] { seen = readFile(path); fileAtArrival = true; });
        ASSERT_TRUE(control.open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/f"), path));
        control.send();
        engine.last()->answer(c.status, c.body);
        flushEvents();
        EXPECT_EQ(readFile(path), c.fileAfter);
        if (c.status == 200) {
            EXPECT_TRUE(fileAtArrival);
            EXPECT_EQ(seen, c.fileAfter) << "the file is complete when OnDateArrived comes";
        }
    }
    // A save that cannot be written is ignored; the event still comes.
    XmlHttpRequest control(nullptr, &engine);
    Events ev(control);
    ASSERT_TRUE(control.open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/f"),
                              dir.filePath(QStringLiteral("no/such/folder/x.bin"))));
    control.send();
    engine.last()->answer(200, "data");
    flushEvents();
    EXPECT_EQ(ev.completions(), (QStringList{"arrived", "ended"}));
}

TEST_F(XmlHttpTest, HostMayDeleteOrReopenFromItsHandlers)
{
    // Deleting the control inside dataArrived.
    auto* doomed = new XmlHttpRequest(nullptr, &engine);
    int ended = 0;
    QObject::connect(doomed, &XmlHttpRequest::dataArrived, doomed, [doomed] { delete doomed; });
    QObject::connect(doomed, &XmlHttpRequest::requestEnded, [&] { ++ended; });
    ASSERT_TRUE(doomed->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/a")));
    doomed->send();
    engine.last()->answer(200, "x");
    flushEvents();
    EXPECT_EQ(ended, 0);

    // Retrying from dataFailed with a new request.
    Events ev(*http);
    int tries = 0;
    QObject::connect(http.get(), &XmlHttpRequest::dataFailed, [&] {
        if (++tries == 1 && http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/retry")))
            http->send();
    });
    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/a")));
    http->send();
    engine.last()->answer(503);
    flushEvents();
    ASSERT_EQ(engine.urls.back(), QStringLiteral("http://127.0.0.1:9/retry"));
    engine.last()->answer(200, "ok");
    flushEvents();
    EXPECT_EQ(ev.completions(), (QStringList{"err:服务器过载或暂停维修", "arrived", "ended"}));
    EXPECT_EQ(http->responseText(), QStringLiteral("ok"));
}

TEST_F(XmlHttpTest, BodyLimitAbandonsOversizedAnswers)
{
    Events ev(*http);
    http->setMaxBodyBytes(10);
    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/big")));
    http->send();
    FakeRequest* r = engine.last();
    r->respond(200);
    r->data(QByteArray(11, 'x'));
    flushEvents();
    EXPECT_TRUE(r->cancelled);
    EXPECT_EQ(ev.completions(), QStringList{"ended"});
    EXPECT_EQ(http->status(), xmlHttpStatusCancelled);
    EXPECT_TRUE(http->downOk());
    EXPECT_TRUE(http->responseBody().isEmpty());
}

TEST_F(XmlHttpTest, ResponseTextDecoding)
{
    QStringEncoder gbk("GBK");
    ASSERT_TRUE(gbk.isValid());
    const QString chinese = QStringLiteral("最新版本 1.2.3");
    const QByteArray gbkBytes = gbk.encode(chinese);
    const struct {
        const char* name;
        QByteArray contentType;
        QByteArray body;
    } cases[] = {
        {"utf-8 by default", "text/plain", chinese.toUtf8()},
        {"charset from the header", "text/plain; charset=GBK", gbkBytes},
        {"quoted charset", "text/plain; charset=\"gbk\"", gbkBytes},
        {"BOM wins", "text/plain; charset=GBK", "\xEF\xBB\xBF" + chinese.toUtf8()},
        {"unknown charset falls back to utf-8", "text/plain; charset=x-none", chinese.toUtf8()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XmlHttpRequest control(nullptr, &engine);
        ASSERT_TRUE(control.open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/t")));
        control.send();
        engine.last()->answer(200, c.body, {{"Content-Type", c.contentType}});
        flushEvents();
        EXPECT_EQ(control.responseText(), chinese);
    }
}

TEST_F(XmlHttpTest, WaitForRequestEndResumesOnEndAndOnDestruction)
{
    EXPECT_FALSE(QCoro::waitFor(waitForRequestEnd(http.get()))) << "nothing watched: no wait";

    ASSERT_TRUE(http->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/a")));
    http->send();
    FakeRequest* r = engine.last();
    QTimer::singleShot(5, [r] { r->answer(200, "v"); });
    EXPECT_TRUE(QCoro::waitFor(waitForRequestEnd(http.get())));
    EXPECT_TRUE(http->downOk());

    auto* gone = new XmlHttpRequest(nullptr, &engine);
    ASSERT_TRUE(gone->open(QStringLiteral("GET"), QStringLiteral("http://127.0.0.1:9/b")));
    gone->send();
    QTimer::singleShot(5, [gone] { delete gone; });
    EXPECT_FALSE(QCoro::waitFor(waitForRequestEnd(gone)));
}

} // namespace
} // namespace dh::test
