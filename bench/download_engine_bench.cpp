// The download engine end to end against the demo service: the scheduler,
// method one and method two's six slots, with the real file writes.
//
//   download_engine_bench [--files N] [--size BYTES] [--tick MS] [--method 1|2]
//                         [--threads N] [--base URL] [--delay MS]
//
// Prints, for each method, the wall time from the start command to the last
// row finished, the throughput, and the peak resident memory above the idle
// process during the run. Every file is checked byte for byte afterwards.
// --base uses a demo service that is already running (bench/many_files_vs_curl.sh)
// instead of one inside this process; --delay asks it to wait that long
// before each answer. A last line "seconds=... files=... peak_rss_kib=..."
// is for scripts (the last method run).
#include "app/AppGlobals.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "demo/DemoTransfer.h"
#include "download/DownloadHost.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "download/TransferMonitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace dh;

namespace {

class BenchHost : public DownloadHost {
public:
    int slotTotal = 6;
    DownloadOptions options() const override
    {
        DownloadOptions o;
        o.slotCount = slotTotal;
        return o;
    }
};

long statusKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

bool sameAsServed(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() != size)
        return false;
    qint64 offset = 0;
    while (offset < size) {
        const QByteArray block = f.read(4 * 1024 * 1024);
        if (block.isEmpty() || block != demo::demoTransferBytes(quint64(offset), quint64(block.size())))
            return false;
        offset += block.size();
    }
    return true;
}

// Runs the list to its end under one method; returns seconds, or -1.
double run(int method, int threads, int files, qint64 size, const QString& base, int delay, const QString& folder,
           long* peakKb)
{
    DownloadListModel list;
    DownloadWindowState state;
    BenchHost host;
    host.slotTotal = threads;
    state.downloadMethod = method;
    DownloadScheduler scheduler(list, state, host);
    TransferMonitor monitor(list, state, scheduler, host);
    for (int i = 0; i < files; ++i)
        list.addItem(base + QStringLiteral("/t/file/%1?n=%2&delay=%3").arg(size).arg(i).arg(delay),
                     QStringLiteral("m%1-%2").arg(method).arg(i), "bin", folder, "");
    const long idle = statusKb("VmRSS:");
    resetPeak();
    QElapsedTimer clock;
    clock.start();
    monitor.start();
    scheduler.startDownloading();
    QEventLoop loop;  // the benchmark's own driver, not engine code
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (list.isListFinished() || clock.elapsed() > 600000)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    const double seconds = clock.elapsed() / 1000.0;
    *peakKb = statusKb("VmHWM:") - idle;
    monitor.stop();
    scheduler.stopDownloading();
    bool ok = true;
    for (int i = 0; i < files; ++i) {
        const DownloadItem& it = list.item(i);
        if (it.state != DownloadState::Done || !sameAsServed(itemFilePath(it), size)) {
            std::fprintf(stderr, "row %d: %s %s\n", i, qPrintable(cellText(it, DownloadListModel::ColProgress)), qPrintable(itemFilePath(it)));
            ok = false;
        }
        QFile::remove(itemFilePath(it));
    }
    return ok ? seconds : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int files = 24;
    qint64 size = 16 * 1024 * 1024;
    int tick = 1000;
    int onlyMethod = 0;
    int threads = 6;
    int delay = 0;
    QString base;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--files")
            files = args[i + 1].toInt();
        else if (args[i] == "--size")
            size = args[i + 1].toLongLong();
        else if (args[i] == "--tick")
            tick = args[i + 1].toInt();
        else if (args[i] == "--method")
            onlyMethod = args[i + 1].toInt();
        else if (args[i] == "--threads")
            threads = std::clamp(args[i + 1].toInt(), 1, 6);
        else if (args[i] == "--base")
            base = args[i + 1];
        else if (args[i] == "--delay")
            delay = args[i + 1].toInt();
    }
    timings().tick = std::chrono::milliseconds(tick);
    globals().maxFileSizeMB = 1 << 20;
    demo::DemoService service;
    if (base.isEmpty() && !service.start()) {
        std::fprintf(stderr, "cannot start the demo service\n");
        return 1;
    }
    QTemporaryDir dir;
    int status = 0;
    {
        // The process-wide transfer engine, as in the program.
        if (base.isEmpty())
            base = service.baseUrl();
        std::printf("%d files of %lld bytes, tick %d ms, answer delay %d ms\n", files, static_cast<long long>(size),
                    tick, delay);
        for (int method : {1, 2}) {
            if (onlyMethod != 0 && method != onlyMethod)
                continue;
            long peak = 0;
            const int slotTotal = method == 1 ? 1 : threads;
            const double s = run(method, slotTotal, files, size, base, delay, dir.path() + "/", &peak);
            if (s < 0) {
                std::printf("method %d: FAILED (see above)\n", method);
                status = 1;
                continue;
            }
            const double mib = double(files) * double(size) / (1024.0 * 1024.0);
            std::printf("method %d: %.2f s  %.0f MiB/s  %.1f files/s  peak RSS above idle %ld MiB\n", method, s,
                        mib / s, files / s, peak / 1024);
            std::printf("seconds=%.3f files=%d peak_rss_kib=%ld\n", s, files, statusKb("VmHWM:"));
        }
    }
    if (service.running())
        service.stop();
    return status;
}
