// The cache viewer's listing of a generated cache of 5,000 entries: the window
// lists on a worker thread from the entries' headers and fills in steps; the
// peer is the earlier way, decoding and writing out every body on the window's
// thread before showing anything. Prints both times, the ratio and the longest
// event-loop stall seen while the window listed. Then the same for the walk over
// every user's cache folders (3 generated homes of [files] files each): the
// window walks on a worker thread; the peer walks and fills the list on the
// window's thread, as the viewer once did.
//   cache_listing_bench [entries] [files]
//   cache_listing_bench --extract MB
//   cache_listing_bench --same-name N [CLI]
// --extract writes one plain and one gzip-coded document of MB megabytes into
// a cache and prints the peak memory of a process that lists the cache and
// writes out both local files, beside the sizes it wrote.
// --same-name caches N documents that all end in "report.pdf" and times
// "docharvest-cli cache extract" writing them into one folder (CLI: the
// command to time, default the docharvest-cli built beside this program).
#include "../tests/unit/cache/SimpleCacheWriter.h"
#include "gui/CacheViewerWindow.h"
#include "platform/chromiumcache/SimpleCache.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QDir>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dh;

namespace {
// CPU time of the calling thread, in milliseconds: on a loaded machine wall
// time also counts the waits for a core.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readLine()) : QStringLiteral("unknown\n");
}
} // namespace

// Child of --extract: lists the cache and writes every local file.
int extractOnly(const QString& cacheDir, const QString& sideDir)
{
    SimpleCacheIndex idx(cacheDir, sideDir);
    for (const auto& item : idx.list()) {
        const auto f = idx.entryFile(item.id);
        std::printf("  %-10s %12lld bytes written%s%s\n", qPrintable(item.url.section(QLatin1Char('/'), -1)),
                    qlonglong(QFileInfo(f.path).size()), f.path.isEmpty() ? " (refused: " : "",
                    f.path.isEmpty() ? qPrintable(f.reason + QLatin1Char(')')) : "");
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("  peak RSS of the extracting process: %.1f MB\n", double(ru.ru_maxrss) / 1024.0);
    return 0;
}

int extractBench(const char* self, int mb)
{
    QTemporaryDir cache, side;
    {
        QByteArray doc = QByteArray("%PDF-1.4 ") + QByteArray(qsizetype(mb) * 1024 * 1024, '\0');
        quint32 x = 1;
        // Half random, half repeated text: the gzip copy is about half the size.
        for (qsizetype i = 9; i < doc.size(); ++i)
            doc[i] = (i / 4096) % 2 ? char((x = x * 1664525u + 1013904223u) >> 24) : char('a' + i % 26);
        test::writeEntry(cache.path(), QStringLiteral("http://bench.test/plain.pdf"), doc,
                         {"HTTP/1.1 200 OK", "Content-Type: application/pdf"});
        test::writeEntry(cache.path(), QStringLiteral("http://bench.test/coded.pdf"), test::gzipped(doc),
                         {"HTTP/1.1 200 OK", "Content-Type: application/pdf", "Content-Encoding: gzip"});
    }
    std::printf("two cached documents of %d MB, one stored plain, one gzip-coded\n", mb);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        const QByteArray c = cache.path().toLocal8Bit(), s = side.path().toLocal8Bit();
        execl(self, self, "--extract-only", c.constData(), s.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int sameNameBench(int n, const QString& cli)
{
    QTemporaryDir cache, out;
    for (int i = 0; i < n; ++i)
        test::writeEntry(cache.path(), QStringLiteral("http://bench.test/%1/report.pdf").arg(i),
                         QByteArray("%PDF-1.4 ") + QByteArray::number(i), {"HTTP/1.1 200 OK", "Content-Type: application/pdf"});
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(cli, {QStringLiteral("cache"), QStringLiteral("extract"), QStringLiteral("--cache-dir"), cache.path(),
                  QStringLiteral("--to"), out.path()});
    p.waitForFinished(-1);
    const qint64 ms = t.elapsed();
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    const double cpuMs = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3
                         + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
    const QStringList files = QDir(out.path()).entryList(QDir::Files);
    std::printf("%d cached documents named report.pdf, extracted into one folder by %s\n", n, qPrintable(cli));
    std::printf("  %lld ms wall, %.0f ms CPU, exit %d, %lld files written (report.pdf%s)\n", qlonglong(ms), cpuMs,
                p.exitCode(),
                qlonglong(files.size()),
                files.contains(QStringLiteral("report[%1].pdf").arg(n - 1, 3, 10, QLatin1Char('0')))
                    ? qPrintable(QStringLiteral(" to report[%1].pdf").arg(n - 1, 3, 10, QLatin1Char('0')))
                    : ", numbering incomplete");
    std::printf("  machine load: %s", qPrintable(loadAverage()));
    return files.size() == n ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc > 3 && QByteArray(argv[1]) == "--extract-only") {
        QCoreApplication app(argc, argv);
        return extractOnly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    if (argc > 2 && QByteArray(argv[1]) == "--same-name") {
        QCoreApplication app(argc, argv);
        const QString cli = argc > 3 ? QString::fromLocal8Bit(argv[3])
                                     : QCoreApplication::applicationDirPath() + QStringLiteral("/../docharvest-cli");
        return sameNameBench(std::max(1, atoi(argv[2])), cli);
    }
    if (argc > 2 && QByteArray(argv[1]) == "--extract") {
        QCoreApplication app(argc, argv);
        return extractBench(argv[0], std::max(1, atoi(argv[2])));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 5000;

    QTemporaryDir cache, side, peerSide;
    const QByteArray html = QByteArray("<html><body>") + QByteArray(6000, 'x') + "</body></html>";
    const QByteArray gz = test::gzipped(html);
    for (int i = 0; i < n; ++i) {
        const QString url = QStringLiteral("http://bench.test/docs/%1/file%2.%3")
                                .arg(i % 50)
                                .arg(i)
                                .arg(i % 2 ? QStringLiteral("pdf") : QStringLiteral("html"));
        if (i % 2)
            test::writeEntry(cache.path(), url, QByteArray("%PDF-1.4 ") + QByteArray(3000 + i % 500, 'p'),
                             {"HTTP/1.1 200 OK", "Content-Type: application/pdf"});
        else
            test::writeEntry(cache.path(), url, gz,
                             {"HTTP/1.1 200 OK", "Content-Type: text/html", "Content-Encoding: gzip"});
    }

    // The header pass alone, on this thread.
    QElapsedTimer raw;
    raw.start();
    const double rawCpu0 = threadCpuMs();
    SimpleCacheIndex plain(cache.path(), side.path());
    const std::size_t listedRaw = plain.list().size();
    const qint64 rawMs = raw.elapsed();
    const double rawCpu = threadCpuMs() - rawCpu0;

    // The window: headers on a worker, rows added in steps.
    CacheViewerWindow w(nullptr, std::make_unique<SimpleCacheIndex>(cache.path(), side.path()),
               CacheLocations{cache.path(), {}, {}});
    w.show();
    QElapsedTimer clock, tick;
    qint64 listedMs = -1, checkedMs = -1, worstStall = 0;
    double worstCpu = 0, lastCpu = threadCpuMs();
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worstStall = std::max(worstStall, tick.restart());
        const double cpu = threadCpuMs();
        worstCpu = std::max(worstCpu, cpu - lastCpu);
        lastCpu = cpu;
        if (listedMs < 0 && !w.listing())
            listedMs = clock.elapsed();
        if (!w.checking()) {
            checkedMs = clock.elapsed();
            app.quit();
        }
    });
    clock.start();
    tick.start();
    w.showMyCache();
    probe.start();
    app.exec();
    const int rows = w.findChild<QTreeWidget*>(QStringLiteral("cacheEntriesView"))->topLevelItemCount();

    // The peer: every body decoded and written out before the list is shown.
    QElapsedTimer peer;
    peer.start();
    SimpleCacheIndex old(cache.path(), peerSide.path());
    int written = 0;
    for (const auto& item : old.list()) {
        if (!old.entryFile(item.id).path.isEmpty())
            ++written;
    }
    const qint64 peerMs = peer.elapsed();

    std::printf("entries: %d, rows shown: %d (%s)\n", n, rows, qPrintable(w.findChild<QLabel*>(QStringLiteral("cacheCountLabel"))->text()));
    std::printf("header pass alone: %lld ms (%.0f ms CPU) for %zu entries\n", qlonglong(rawMs), rawCpu, listedRaw);
    std::printf("window listing (headers, worker thread): %lld ms; bodies checked after %lld ms\n",
                qlonglong(listedMs), qlonglong(checkedMs));
    std::printf("longest event-loop stall while listing: %lld ms wall, %.1f ms of window-thread CPU "
                "(target: under 50 ms)\n",
                qlonglong(worstStall), worstCpu);
    std::printf("peer, every body decoded and written on the window's thread: %lld ms (%d files)\n",
                qlonglong(peerMs), written);
    std::printf("ratio peer / window listing: %.1f\n", listedMs > 0 ? double(peerMs) / double(listedMs) : 0.0);
    std::printf("machine load while measuring: %s", qPrintable(loadAverage()));

    // Every user's cache folders: 3 homes, files spread over 50 folders each.
    const int perHome = argc > 2 ? std::max(1, atoi(argv[2])) : 5000;
    QTemporaryDir homes;
    std::vector<UserHome> users;
    for (int h = 0; h < 3; ++h) {
        const QString home = homes.filePath(QStringLiteral("user%1").arg(h));
        for (int d = 0; d < 50; ++d)
            QDir().mkpath(home + QStringLiteral("/.cache/DH/web/%1").arg(d));
        for (int i = 0; i < perHome; ++i) {
            QFile f(home + QStringLiteral("/.cache/DH/web/%1/f%2.pdf").arg(i % 50).arg(i));
            if (f.open(QIODevice::WriteOnly))
                f.write("%PDF");
        }
        users.push_back({QStringLiteral("user%1").arg(h), home});
    }
    const CacheLocations everyone{QString(), [users] { return users; }, {QStringLiteral("/.cache/DH/web")}};
    CacheViewerWindow all(nullptr, std::make_unique<SimpleCacheIndex>(cache.path(), side.path()), everyone);
    all.show();
    qint64 allMs = -1, allStall = 0;
    clock.restart();
    tick.restart();
    QObject::disconnect(&probe, nullptr, nullptr, nullptr);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        allStall = std::max(allStall, tick.restart());
        if (!all.checking()) {
            allMs = clock.elapsed();
            app.quit();
        }
    });
    all.showAllUsersCache();
    allStall = std::max(allStall, tick.restart());  // the click itself
    app.exec();
    const int allRows = all.findChild<QTreeWidget*>(QStringLiteral("cacheEntriesView"))->topLevelItemCount();

    // The peer: walk and fill the list in one go on this thread.
    QElapsedTimer oldWay;
    oldWay.start();
    CacheViewer direct(nullptr, everyone);
    direct.listAllUsersCache();
    QTreeWidget list;
    list.setColumnCount(8);
    QList<QTreeWidgetItem*> items;
    for (const CacheEntry& e : direct.rows)
        items << new QTreeWidgetItem(QStringList{e.url, e.type, e.size, e.filePath, stateText(e), e.site,
                                                 dateText(e.modified), dateText(e.accessed)});
    list.addTopLevelItems(items);
    const qint64 oldMs = oldWay.elapsed();

    std::printf("all users: %d homes x %d files, rows shown: %d (%s)\n", int(users.size()), perHome, allRows,
                qPrintable(all.findChild<QLabel*>(QStringLiteral("cacheCountLabel"))->text()));
    std::printf("all users, window (walk on a worker thread): %lld ms, longest event-loop stall %lld ms\n",
                qlonglong(allMs), qlonglong(allStall));
    std::printf("all users, peer (walk and fill on the window's thread, one stall): %lld ms\n", qlonglong(oldMs));
    std::printf("ratio peer stall / window stall: %.1f\n", allStall > 0 ? double(oldMs) / double(allStall) : 0.0);
    const bool allOk = allRows == 3 * perHome && allStall <= 50;
    return rows == n && listedMs < 1000 && worstStall <= 50 && allOk ? 0 : 1;
}
