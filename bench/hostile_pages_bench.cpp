// Hostile result pages: time and peak memory of a one-query headless search
// against each /hostile route of the demo service, against the peer of an
// ordinary query on the demo's regular result pages, measured in the same
// run. Each row runs in a child process so its peak RSS is its own.
//
//   build/bench/hostile_pages_bench [--next-wait MS] [--memory-only] [--only ROW]
//
// --next-wait shrinks the next-page wait (default 3000 ms here instead of the
// real 20 s) so that the stalled-page row does not dominate the run.
// The second table loads pages just under the page cap in four shapes and
// sets the peak memory beside the page size and beside the figures measured
// before the page path was made lean; --memory-only runs just that table,
// --only ROW runs just the peer and that row of the first table.
#include "app/AppGlobals.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "platform/headless/HeadlessBrowser.h"
#include "search/SearchEngine.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <span>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dh;

namespace {

// Child: one batch of one query on the given search base; prints
// "<links> <ms>" on stdout.
int runRow(const QString& base, int nextWaitMs)
{
    timings().nextPageWait = std::chrono::milliseconds(nextWaitMs);
    globals().promptOnExtract = false;
    HeadlessBrowser browser;
    auto engine = SearchEngine::create();
    engine->setBrowser(&browser);
    engine->searchBase = base;
    engine->delaySeconds = 0;
    engine->typeTicked = {true, false, false, false};
    QElapsedTimer t;
    t.start();
    QCoro::waitFor(engine->batchSearchTask(QStringLiteral("教程")));
    std::printf("%d %lld\n", engine->links()->size(), qlonglong(t.elapsed()));
    engine->setBrowser(nullptr);
    return 0;
}

struct Result {
    int links = -1;
    double seconds = 0;
    double peakMb = 0;
};

Result runChild(const char* self, const QString& base, int nextWaitMs)
{
    Result r;
    int out[2];
    if (::pipe(out) != 0)
        return r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        const QByteArray b = base.toUtf8();
        const QByteArray w = QByteArray::number(nextWaitMs);
        ::execl(self, self, "--row", b.constData(), "--next-wait", w.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    QByteArray text;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, n);
    ::close(out[0]);
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    const QList<QByteArray> f = text.trimmed().split(' ');
    if (f.size() == 2) {
        r.links = f[0].toInt();
        r.seconds = f[1].toDouble() / 1000.0;
    }
    r.peakMb = double(ru.ru_maxrss) / 1024.0;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    int nextWait = 3000;
    if (const qsizetype i = args.indexOf(QStringLiteral("--next-wait")); i >= 0 && i + 1 < args.size())
        nextWait = args.at(i + 1).toInt();
    if (const qsizetype i = args.indexOf(QStringLiteral("--row")); i >= 0 && i + 1 < args.size())
        return runRow(args.at(i + 1), nextWait);

    demo::DemoOptions o;
    o.rateLimitPages = -1;
    o.pagesPerQuery = 5;
    demo::DemoService service(o);
    if (!service.start()) {
        std::fprintf(stderr, "the demo service could not start\n");
        return 1;
    }
    const QString base = service.baseUrl();
    const char* self = argv[0];

    std::printf("one query per row, headless engine, next-page wait %d ms, page cap 32 MB, 100 pages per query\n\n",
                nextWait);
    std::printf("%-34s %7s %9s %12s %12s\n", "row", "links", "seconds", "peak RSS MB", "RSS / peer");
    const Result peer = runChild(self, base, nextWait);
    std::printf("%-34s %7d %9.2f %12.1f %12s\n", "peer: ordinary query, 5 pages", peer.links, peer.seconds,
                peer.peakMb, "1.00");
    const bool memoryOnly = args.contains(QStringLiteral("--memory-only"));
    const char* rows[] = {"self", "pingpong", "grow", "emptyhref", "stall/60", "huge/64", "huge/512", "hugestream/512", "huge/31",
                          "nest/1000000", "attrs/1000000", "formatting/40000", "schemes", "status", "notresults"};
    const qsizetype onlyAt = args.indexOf(QStringLiteral("--only"));
    const QString only = onlyAt >= 0 && onlyAt + 1 < args.size() ? args.at(onlyAt + 1) : QString();
    for (const char* row : memoryOnly ? std::span<const char* const>() : std::span<const char* const>(rows)) {
        if (!only.isEmpty() && only != QLatin1String(row))
            continue;
        const Result r = runChild(self, base + QStringLiteral("/hostile/") + QString::fromLatin1(row), nextWait);
        std::printf("%-34s %7d %9.2f %12.1f %12.2f\n", row, r.links, r.seconds, r.peakMb,
                    peer.peakMb > 0 ? r.peakMb / peer.peakMb : 0.0);
        std::fflush(stdout);
    }

    // Peak memory of one query whose only result page is N MB of one shape.
    // "extra / page" is the peak above the peer's, per byte of page.
    struct MemoryRow {
        const char* kind;
        const char* shape;
        int mb;
        double beforeMb;  // peak RSS measured before the node budget and the lean page path (0: not measured)
    };
    const MemoryRow memoryRows[] = {
        {"huge", "many small elements", 8, 465.6},   {"huge", "many small elements", 16, 882.9},
        {"huge", "many small elements", 31, 1683.2},  {"hugelinks", "many links", 8, 374.8},
        {"hugelinks", "many links", 16, 701.6},      {"hugelinks", "many links", 31, 1338.5},
        {"hugetext", "one huge text node", 8, 121.7}, {"hugetext", "one huge text node", 16, 195.8},
        {"hugetext", "one huge text node", 31, 336.2}, {"hugedeep", "nesting at the bound", 8, 318.6},
        {"hugedeep", "nesting at the bound", 16, 589.3}, {"hugedeep", "nesting at the bound", 31, 1115.1},
        // the largest of each shape below the node budget
        {"huge", "many small elements", 3, 0},   {"hugelinks", "many links", 4, 0},
        {"hugedeep", "nesting at the bound", 5, 0},
    };
    if (!only.isEmpty())
        return 0;
    std::printf("\npages just under the cap: peak RSS of the whole query (load, parse, extract)\n\n");
    std::printf("%-22s %5s %7s %9s %12s %13s %12s\n", "shape", "MB", "links", "seconds", "peak RSS MB",
                "extra / page", "before MB");
    for (const MemoryRow& m : memoryRows) {
        const QString url = base + QStringLiteral("/hostile/%1/%2").arg(QString::fromLatin1(m.kind)).arg(m.mb);
        const Result r = runChild(self, url, nextWait);
        char before[16] = "-";
        if (m.beforeMb > 0)
            std::snprintf(before, sizeof before, "%.0f", m.beforeMb);
        std::printf("%-22s %5d %7d %9.2f %12.1f %13.2f %12s\n", m.shape, m.mb, r.links, r.seconds, r.peakMb,
                    (r.peakMb - peer.peakMb) / m.mb, before);
        std::fflush(stdout);
    }
    return 0;
}
