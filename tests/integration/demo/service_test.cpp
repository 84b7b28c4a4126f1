// The update file, the browser test pages and the stand-alone program.

#include "DemoTestUtil.h"
#include "TestEnv.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringDecoder>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace dh::demo;
using namespace dh::demo::test;

namespace {

// The stand-alone program sits at the top of the build tree, one level above
// the test programs.
QString serviceProgram()
{
    QString dir = dh::test::binaryDir();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    return dir + QStringLiteral("/docharvest-demo-service");
}

} // namespace

class DemoService_ : public DemoFixture {};

TEST_F(DemoService_, NewverTextIsServedUnderTheProgramName)
{
    DemoOptions o;
    o.versionText = QStringLiteral("1.2.902");
    startService(o);
    for (const char* path : {"/DocHarvest/newver.txt", "/docharvest/newver.txt"}) {
        auto res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->body, "1.2.902");
        EXPECT_EQ(res->get_header_value("Content-Type").rfind("text/plain", 0), 0u);
    }
    getBody("/OtherTool/newver.txt", 404);
    getBody("/newver.txt", 404);
    // The text is read on every request and sent exactly as configured.
    {
        std::lock_guard lock(service->state().mutex);
        service->state().options.versionText = QStringLiteral(" 1.3.0 ");
    }
    EXPECT_EQ(getBody("/DocHarvest/newver.txt"), QByteArray(" 1.3.0 "));
}

TEST_F(DemoService_, GbkPagesCarryTheirCharsetInHeaderOrMeta)
{
    startService();
    const QString expected = QStringLiteral("中文内容：文档搜索与下载");
    const struct {
        const char* path;
        const char* contentType;
        const char* meta;
    } cases[] = {
        {"/gbk", "text/html; charset=GBK", nullptr},
        {"/gbk-meta", "text/html", "<meta charset=\"gbk\">"},
        {"/gbk-meta-equiv", "text/html", "charset=gb2312"},
    };
    for (const auto& c : cases) {
        auto res = client->Get(c.path);
        ASSERT_TRUE(res) << c.path;
        EXPECT_EQ(res->get_header_value("Content-Type"), c.contentType) << c.path;
        const QByteArray body = QByteArray::fromStdString(res->body);
        QStringDecoder gbk("GBK");
        const QString text = gbk.decode(body);
        EXPECT_FALSE(gbk.hasError()) << c.path;
        EXPECT_EQ(viewPage(text.toUtf8()).textOfId(QStringLiteral("text")), expected) << c.path;
        // Really GBK: the UTF-8 spelling is not in the bytes.
        EXPECT_FALSE(body.contains(expected.toUtf8())) << c.path;
        if (c.meta) {
            EXPECT_TRUE(body.contains(c.meta)) << c.path;
        } else {
            EXPECT_FALSE(body.contains("charset")) << c.path;
        }
    }
}

TEST_F(DemoService_, ScriptTestPagesAreServed)
{
    startService();
    const QByteArray popup = getBody("/popup");
    for (const char* s : {"target=\"_blank\"", "window.open('/login')", "window.open('about:blank')", "alert(", "window.close()"})
        EXPECT_TRUE(popup.contains(s)) << s;
    const QByteArray alert = getBody("/alert");
    EXPECT_TRUE(alert.contains("<script>alert("));
    EXPECT_EQ(viewPage(alert).textOfId(QStringLiteral("after-alert")), QStringLiteral("页面已加载"));
}

TEST(DemoServiceProgram, PrintsItsBaseUrlAndServesUntilKilled)
{
    const QString exe = serviceProgram();
    QProcess proc;
    proc.start(exe, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--pages"), QStringLiteral("2"),
                     QStringLiteral("--newver"), QStringLiteral("9.9.9")});
    ASSERT_TRUE(proc.waitForStarted(5000)) << exe.toStdString();
    ASSERT_TRUE(proc.waitForReadyRead(5000));
    const QString line = QString::fromUtf8(proc.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith(QStringLiteral("http://127.0.0.1:"))) << line.toStdString();
    const int port = line.mid(line.lastIndexOf(QLatin1Char(':')) + 1).toInt();
    ASSERT_GT(port, 0);

    httplib::Client c("127.0.0.1", port);
    c.set_url_encode(false);
    auto p2 = c.Get("/p?w=x+filetype%3Apdf&pn=2");
    ASSERT_TRUE(p2);
    const PageView page = viewPage(QByteArray::fromStdString(p2->body));
    EXPECT_EQ(page.results.size(), 10);
    EXPECT_TRUE(nextHref(page).isEmpty());  // --pages 2: page 2 is the last
    auto ver = c.Get("/DocHarvest/newver.txt");
    ASSERT_TRUE(ver);
    EXPECT_EQ(ver->body, "9.9.9");

    EXPECT_EQ(proc.state(), QProcess::Running);
    proc.kill();
    proc.waitForFinished(5000);
}

TEST(DemoServiceProgram, RefusesAPortInUse)
{
    DemoService first;
    ASSERT_TRUE(first.start());
    QProcess proc;
    proc.start(serviceProgram(),
               {QStringLiteral("--port"), QString::number(first.port())});
    ASSERT_TRUE(proc.waitForFinished(5000));
    EXPECT_EQ(proc.exitCode(), 1);
    EXPECT_TRUE(proc.readAllStandardError().contains("cannot listen"));
}

// Clients that hold a request (a route that stalls on purpose) or a connection
// without sending anything must not keep the service from answering others.
TEST_F(DemoService_, SlowClientsDoNotBlockTheOthers)
{
    startService();
    std::vector<std::thread> holders;
    for (int i = 0; i < 12; ++i) {
        holders.emplace_back([port = service->port()] {
            httplib::Client c("127.0.0.1", int(port));
            c.set_read_timeout(60, 0);
            c.Get("/hostile/stall/60/p?w=x&pn=2");
        });
    }
    std::vector<int> silent;
    for (int i = 0; i < 12; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(service->port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        silent.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    httplib::Client c("127.0.0.1", int(service->port()));
    c.set_read_timeout(3, 0);
    const auto t0 = std::chrono::steady_clock::now();
    auto res = c.Get("/p?w=1");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    service->stop();  // lets the stalled requests go
    for (std::thread& t : holders)
        t.join();
    for (int fd : silent)
        ::close(fd);
}

// Which routes each way of running the service serves, and the caps on the
// test routes' sizes (checked with HEAD: the length without the body).
enum class Run { BuiltIn, Program, ProgramWithTestRoutes };

struct RouteRow {
    const char* name;
    Run run;
    const char* path;
    int status;
    std::uint64_t maxLength;  // 0: any
};

const RouteRow kRouteRows[] = {
    {"BuiltInDemoServesSearch", Run::BuiltIn, "/p?w=1", 200, 0},
    {"BuiltInDemoHasNoHostileRoutes", Run::BuiltIn, "/hostile/self/p?w=x", 404, 0},
    {"BuiltInDemoHasNoTransferRoutes", Run::BuiltIn, "/t/silent?hold_ms=100000", 404, 0},
    {"ProgramWithoutTheFlagHasNoHostileRoutes", Run::Program, "/hostile/self/p?w=x", 404, 0},
    {"ProgramWithTheFlagServesThem", Run::ProgramWithTestRoutes, "/hostile/self/p?w=x", 200, 0},
    {"OverCapBodyIsCapped", Run::ProgramWithTestRoutes, "/t/file/99999999999999", 200, caps::bodyBytes},
    {"OverCapPageIsCapped", Run::ProgramWithTestRoutes, "/hostile/huge/999999999/p?w=x", 200,
     std::uint64_t(caps::pageMegabytes) << 20},
};

class DemoRoutes : public ::testing::TestWithParam<RouteRow> {};

TEST_P(DemoRoutes, ServedOnlyWhereAskedForAndCapped)
{
    const RouteRow& row = GetParam();
    std::unique_ptr<DemoService> inProcess;
    QProcess proc;
    int port = 0;
    if (row.run == Run::BuiltIn) {
        inProcess = std::make_unique<DemoService>(DemoOptions::builtIn());
        ASSERT_TRUE(inProcess->start());
        port = inProcess->port();
    } else {
        QStringList args{QStringLiteral("--port"), QStringLiteral("0")};
        if (row.run == Run::ProgramWithTestRoutes)
            args << QStringLiteral("--test-routes");
        proc.start(serviceProgram(), args);
        ASSERT_TRUE(proc.waitForReadyRead(5000));
        const QString line = QString::fromUtf8(proc.readLine()).trimmed();
        port = line.mid(line.lastIndexOf(QLatin1Char(':')) + 1).toInt();
        ASSERT_GT(port, 0) << line.toStdString();
    }
    httplib::Client c("127.0.0.1", port);
    c.set_url_encode(false);
    const auto res = c.Head(row.path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, row.status);
    if (row.maxLength) {
        const std::uint64_t length = std::stoull("0" + res->get_header_value("Content-Length"));
        EXPECT_GT(length, 0u);
        EXPECT_LE(length, row.maxLength + 4096);  // the page's head comes on top
    }
    proc.kill();
    proc.waitForFinished(5000);
}

INSTANTIATE_TEST_SUITE_P(Rows, DemoRoutes, ::testing::ValuesIn(kRouteRows),
                         [](const ::testing::TestParamInfo<RouteRow>& i) { return std::string(i.param.name); });
