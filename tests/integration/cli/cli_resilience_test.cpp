// Busy, failing and cut servers, and the per-host limit, as the demo service
// itself counted them: requests per path and transfers at once per Host.
#include "CliFixture.h"
#include "demo/DemoTransfer.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace dh::test {
namespace {

using S = QString;

class CliResilience : public CliFixture {
protected:
    demo::PathCounts counted(const QString& path) { return demo::transferPathCounts(service->state(), path.toStdString()); }
};

TEST_F(CliResilience, PassingFailuresAreRetriedAndLastingOnesAreNot)
{
    const qint64 size = 20000;
    const struct Row {
        const char* name;
        const char* query;
        const char* retries;  // and any further options
        unsigned requests;  // as the server counted them
        const char* state;
        qint64 atLeastMs;   // the server's Retry-After, kept
        qint64 served;      // body bytes the server sent (0: not counted)
        const char* version = "";  // of the bytes that must land
        bool resumed = false;      // said in the summary
    } rows[] = {
        {"busy", "busy=1&retry_after=1", "3", 2, "done", 1000, 0},
        {"gone", "busy=9&busy_status=404&retry_after=-1", "3", 1, "failed", 0, 0},
        {"cut", "cut=3000&cuts=2", "3", 3, "done", 0, size, "", true},
        {"off", "busy=1&retry_after=1", "0", 1, "failed", 0, 0},
        {"tooMany", "busy=9&retry_after=0", "2", 3, "failed", 0, 0},
        // Cut at 60 %: the rest is asked for, with Last-Modified when there is no ETag.
        {"resume", "cut=12000&cuts=1", "3", 2, "done", 0, size, "", true},
        {"lastModified", "etag=0&cut=12000&cuts=1", "3", 2, "done", 0, size, "", true},
        {"noRanges", "ranges=0&cut=12000&cuts=1", "3", 2, "done", 0, 12000 + size},
        {"noValidator", "etag=0&last_modified=0&cut=12000&cuts=1", "3", 2, "done", 0, 12000 + size},
        {"changed", "next=B&cut=12000&cuts=1", "3", 2, "done", 0, 12000 + size, "B"},
        // A server that answers the rest wrongly: asked again for the whole, nothing appended.
        {"range416", "bad_range=416&cut=12000&cuts=1", "3", 3, "done", 0, 12000 + size},
        {"rangeTooEarly", "bad_range=early&cut=12000&cuts=1", "3", 3, "done", 0, 0},
        // Each cut gets further: the retries count attempts in a row that do not.
        {"manyCuts", "cut=5000", "1", 4, "done", 0, size, "", true},
        {"keptThenFailed", "cut=12000&cuts=1", "0", 1, "failed", 0, 12000},
        {"redownloadRound", "cut=12000&cuts=1", "0 --redownload failed", 2, "done", 0, size, "", true},
    };
    for (const char* method : {"1", "2"}) {
        for (const Row& r : rows) {
            SCOPED_TRACE((S(r.name) + " method " + method).toStdString());
            const QString path = S("/t/file/%1/%2%3").arg(size).arg(S(r.name), S(method));
            const QString folder = dir.filePath(S(r.name) + method);
            const QString rep = folder + ".tsv";
            QElapsedTimer clock;
            clock.start();
            const CliRun run = cli(QStringList{"download", "--method", method, "--retries"} + S(r.retries).split(' ')
                                   + QStringList{"--out", folder, "--report", rep, url(path + "?" + r.query)});
            EXPECT_GE(clock.elapsed(), r.atLeastMs);
            const auto lines = report(rep);
            ASSERT_EQ(lines.size(), 1u) << qPrintable(run.err);
            EXPECT_EQ(lines[0][2], S(r.state)) << qPrintable(run.err);
            EXPECT_EQ(counted(path).requests, r.requests);
            if (r.served > 0)
                EXPECT_EQ(qint64(counted(path).bodyBytes), r.served);
            EXPECT_EQ(run.err.contains("; 1 resumed"), r.resumed) << qPrintable(run.err);
            // Nothing but the whole file is left: no kept body outlives the run.
            if (S(r.state) == "done") {
                EXPECT_EQ(readFile(lines[0][3]), demo::demoTransferBytes(demo::demoTransferOrigin(r.version), size));
                EXPECT_EQ(entries(folder), QStringList{QFileInfo(lines[0][3]).fileName()});
            } else {
                EXPECT_EQ(entries(folder), QStringList());
            }
        }
    }
}

TEST_F(CliResilience, PerHostLimitHoldsOnTheServer)
{
    const QString other = url("").replace("127.0.0.1", "localhost");
    const struct Row {
        const char* perHost;
        int most;  // per host, as the server saw it; -1: more than 2
    } rows[] = {{"2", 2}, {"1", 1}, {"0", -1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.perHost);
        demo::resetTransferCounts(service->state());
        QByteArray links = "title\ttype\turl\treferer\n";
        for (int i = 0; i < 6; ++i) {
            for (const QString& base : {url(""), other})
                links += S("f%1\tbin\t%2/t/file/6000/%3-%1?pace=1000&pace_ms=150\t\n")
                             .arg(i)
                             .arg(base, base == other ? "b" : "a")
                             .toUtf8();
        }
        const QString file = writeFile(S("links%1.tsv").arg(r.perHost), links);
        const CliRun run = cli({"download", "--links", file, "--threads", "6", "--per-host", r.perHost, "--out",
                                dir.filePath(S("h") + r.perHost)});
        EXPECT_EQ(run.code, 0) << qPrintable(run.err);
        for (const QString& base : {url(""), other}) {
            const int most = demo::transferHostCounts(service->state(), QUrl(base).authority().toStdString()).maximum;
            if (r.most < 0)
                EXPECT_GT(most, 2) << qPrintable(base);
            else
                EXPECT_EQ(most, r.most) << qPrintable(base);
        }
    }
}

} // namespace
} // namespace dh::test
