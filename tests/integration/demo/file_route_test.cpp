// /t/file as a real file server: ranges, validators, cuts, busy answers and the
// server-side counts, spoken to over a plain socket as a download tool would.

#include "DemoTestUtil.h"
#include "demo/DemoTransfer.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace dh::demo;
using namespace dh::demo::test;

namespace {

// HTTP dates end in "GMT", which Qt's RFC 2822 reading does not take.
bool isHttpDate(const std::string& text)
{
    return text.ends_with(" GMT") &&
           QDateTime::fromString(QString::fromStdString(text).replace("GMT", "+0000"), Qt::RFC2822Date).isValid();
}

struct Answer {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    QByteArray body;
    std::string header(const std::string& name) const { return headers.count(name) ? headers.at(name) : "-"; }
};

// One request on its own connection; the body is read until the server closes.
class RawRequest {
public:
    RawRequest(quint16 port, const std::string& target, const std::string& headers, int receiveBuffer = 0)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)  // a small window: the server cannot finish before we read
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        const timeval limit{60, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        const sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
        const std::string request = "GET " + target + " HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n";
        EXPECT_EQ(::send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
    }
    ~RawRequest() { ::close(fd); }
    Answer& head()
    {
        if (answer.status)
            return answer;
        while (!pending.contains("\r\n\r\n") && more()) {}
        const qsizetype end = pending.indexOf("\r\n\r\n");
        const QList<QByteArray> lines = pending.left(end).split('\n');
        answer.status = lines.value(0).split(' ').value(1).toInt();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            answer.headers[lines[i].left(colon).toLower().toStdString()] = lines[i].mid(colon + 1).trimmed().toStdString();
        }
        pending.remove(0, end + 4);
        return answer;
    }
    Answer& all()
    {
        head();
        while (pending.size() < (64 << 20) && more()) {}
        answer.body = pending;
        return answer;
    }

private:
    bool more()
    {
        char buf[65536];
        const ssize_t n = std::max<ssize_t>(::recv(fd, buf, sizeof buf, 0), 0);
        pending.append(buf, n);
        return n > 0;
    }
    int fd = -1;
    QByteArray pending;
    Answer answer;
};

struct Step {
    const char* target;
    const char* headers;       // {etag} and {date}: the validators of the previous answer
    int status;
    const char* contentRange;  // "-": none
    std::uint64_t from, length;
    const char* version;       // v= of the target: which bytes the body holds
    const char* retryAfter = nullptr;  // "date": an HTTP date
};

struct Row {
    const char* name;
    std::vector<Step> steps;
    const char* countedPath;
    std::uint64_t requests, bytes;
};

const Row kRows[] = {
    {"WholeBody", {{"/t/file/1000/w", "", 200, "-", 0, 1000, ""}}, "/t/file/1000/w", 1, 1000},
    {"RangesFromAndBetweenOffsets",
     {{"/t/file/1000/r", "Range: bytes=600-\r\n", 206, "bytes 600-999/1000", 600, 400, ""},
      {"/t/file/1000/r", "Range: bytes=10-19\r\n", 206, "bytes 10-19/1000", 10, 10, ""},
      {"/t/file/1000/r", "Range: bytes=-10\r\n", 206, "bytes 990-999/1000", 990, 10, ""}},
     "/t/file/1000/r", 3, 420},
    {"RangePastTheEndIs416",
     {{"/t/file/1000/e", "Range: bytes=1000-\r\n", 416, "bytes */1000", 0, 0, ""}}, "/t/file/1000/e", 1, 0},
    {"IfRangeOfTheSameVersionContinues",
     {{"/t/file/1000/i?v=1", "Range: bytes=0-99\r\n", 206, "bytes 0-99/1000", 0, 100, "1"},
      {"/t/file/1000/i?v=1", "Range: bytes=100-\r\nIf-Range: {etag}\r\n", 206, "bytes 100-999/1000", 100, 900, "1"},
      {"/t/file/1000/i?v=1", "Range: bytes=100-\r\nIf-Range: {date}\r\n", 206, "bytes 100-999/1000", 100, 900, "1"}},
     "/t/file/1000/i", 3, 1900},
    {"IfRangeOfAnotherVersionGetsTheWholeNewBody",
     {{"/t/file/1000/n?v=1", "Range: bytes=0-99\r\n", 206, "bytes 0-99/1000", 0, 100, "1"},
      {"/t/file/1000/n?v=2", "Range: bytes=100-\r\nIf-Range: {etag}\r\n", 200, "-", 0, 1000, "2"},
      {"/t/file/1000/n?v=1", "Range: bytes=100-\r\nIf-Range: {etag}\r\n", 200, "-", 0, 1000, "1"}},
     "/t/file/1000/n", 3, 2100},
    {"FileChangedBetweenRequestsGetsTheWholeNewBody",
     {{"/t/file/1000/x?cut=600&next=b", "", 200, "-", 0, 600, ""},
      {"/t/file/1000/x?cut=600&next=b", "Range: bytes=600-\r\nIf-Range: {etag}\r\n", 200, "-", 0, 600, "b"}},
     "/t/file/1000/x", 2, 1200},
    {"ServerWithoutRangesSendsTheWholeBody",
     {{"/t/file/1000/o?ranges=0", "Range: bytes=500-\r\n", 200, "-", 0, 1000, ""}}, "/t/file/1000/o", 1, 1000},
    {"CutClosesEarlyAndARangeGoesOn",
     {{"/t/file/1000/c?cut=600", "", 200, "-", 0, 600, ""},
      {"/t/file/1000/c?cut=600", "Range: bytes=600-\r\n", 206, "bytes 600-999/1000", 600, 400, ""}},
     "/t/file/1000/c", 2, 1000},
    {"BusyForTheFirstRequests",
     {{"/t/file/1000/b?busy=2&retry_after=2", "", 503, "-", 0, 0, "", "2"},
      {"/t/file/1000/b?busy=2&retry_after=2", "", 503, "-", 0, 0, "", "2"},
      {"/t/file/1000/b?busy=2&retry_after=2", "", 200, "-", 0, 1000, ""}},
     "/t/file/1000/b", 3, 1000},
    {"TooManyRequestsWithADate",
     {{"/t/file/1000/d?busy=1&busy_status=429&retry_date=1", "", 429, "-", 0, 0, "", "date"},
      {"/t/file/1000/d?busy=1&busy_status=429&retry_date=1", "", 200, "-", 0, 1000, ""}},
     "/t/file/1000/d", 2, 1000},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class DemoFileRoute : public DemoFixture, public ::testing::WithParamInterface<Row> {};
class DemoFileRouteCounts : public DemoFixture {};

void replace(std::string& s, const std::string& from, const std::string& to)
{
    s = QString::fromStdString(s).replace(QString::fromStdString(from), QString::fromStdString(to)).toStdString();
}

} // namespace

TEST_P(DemoFileRoute, AnswersAsARealFileServer)
{
    startService();
    Answer previous;
    for (const Step& step : GetParam().steps) {
        std::string headers = std::string("Host: 127.0.0.1\r\n") + step.headers;
        replace(headers, "{etag}", previous.header("etag"));
        replace(headers, "{date}", previous.header("last-modified"));
        RawRequest request(service->port(), step.target, headers);
        const Answer a = request.all();
        SCOPED_TRACE(std::string(step.target) + " " + step.headers);
        EXPECT_EQ(a.status, step.status);
        EXPECT_EQ(a.header("content-range"), step.contentRange);
        if (!step.retryAfter) {  // a busy answer's body is a short note
            EXPECT_EQ(a.body, demoTransferBytes(demoTransferOrigin(step.version) + step.from, step.length));
        }
        if (step.status < 300) {
            EXPECT_EQ(a.header("accept-ranges"), std::string(step.target).find("ranges=0") == std::string::npos ? "bytes" : "-");
            EXPECT_EQ(a.header("etag").front(), '"');
            EXPECT_TRUE(isHttpDate(a.header("last-modified")));
        }
        const std::string retryAfter = step.retryAfter ? step.retryAfter : "-";
        if (retryAfter == "date") {
            EXPECT_TRUE(isHttpDate(a.header("retry-after")));
        } else {
            EXPECT_EQ(a.header("retry-after"), retryAfter);
        }
        previous = a;
    }
    const QJsonObject counted = QJsonDocument::fromJson(getBody("/t/counters")).object()["paths"].toObject()[GetParam().countedPath].toObject();
    EXPECT_EQ(counted["requests"].toInteger(), qint64(GetParam().requests));
    EXPECT_EQ(counted["bytes"].toInteger(), qint64(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Rows, DemoFileRoute, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& i) { return std::string(i.param.name); });

// Bodies being sent at once are counted per Host header while they are sent.
// The client reads only the heads at first, through a small receive window,
// so none of the bodies can be through before all three are under way.
TEST_F(DemoFileRouteCounts, ConcurrentBodiesPerHost)
{
    DemoOptions o;
    o.writeTimeoutSeconds = 100;  // the bodies wait for the client, not for the clock
    startService(o);
    const std::uint64_t size = 16 << 20;
    const char* hosts[] = {"a.test", "a.test", "b.test"};
    std::vector<std::unique_ptr<RawRequest>> requests;
    for (int i = 0; i < 3; ++i) {
        requests.push_back(std::make_unique<RawRequest>(service->port(), "/t/file/16777216/" + std::to_string(i),
                                                        std::string("Host: ") + hosts[i] + "\r\n", 16384));
        EXPECT_EQ(requests.back()->head().status, 200);
    }
    EXPECT_EQ(transferHostCounts(service->state(), "a.test").current, 2);
    for (auto& r : requests)
        EXPECT_EQ(r->all().body, demoTransferBytes(0, size));
    const QJsonObject counted = QJsonDocument::fromJson(getBody("/t/counters")).object();
    for (const auto& [host, most] : {std::pair{"a.test", 2}, std::pair{"b.test", 1}}) {
        EXPECT_EQ(counted["hosts"][host]["max"].toInt(), most) << host;
        EXPECT_EQ(counted["hosts"][host]["current"].toInt(), 0) << host;
    }
    EXPECT_EQ(counted["paths"]["/t/file/16777216/2"]["bytes"].toInteger(), qint64(size));
}
