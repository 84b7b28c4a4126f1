// Downloads the given addresses at the same time with the transfer layer and
// prints how long it took and how much memory it needed. Driven by
// bench/transfer_vs_curl.sh, which compares the figures with curl.
//
//   transfer_vs_curl_bench [--replace] OUTDIR URL...
//
// --replace writes through a temporary file moved into place at the end
// (method two's way); the default writes the target directly (method one's).
// Output, one line: seconds=<s> bytes=<n> idle_rss_kib=<k> peak_rss_kib=<k> failures=<n>
#include "ports/Transfer.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

long statusKib(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Resets the kernel's peak-RSS mark to the current RSS.
bool resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

QCoro::Task<int> run(dh::TransferEngine& engine, QString outDir, QStringList urls, bool replace, qint64* bytes)
{
    std::vector<std::unique_ptr<dh::TransferRequest>> requests;
    for (const QString& u : urls) {
        const QString target = outDir + QLatin1Char('/') + QFileInfo(QUrl(u).path()).fileName();
        auto r = engine.execute(u);
        if (!r->saveBodyTo(target, replace ? dh::SaveMode::ReplaceOnCompletion : dh::SaveMode::Direct)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
            co_return int(urls.size());
        }
        requests.push_back(std::move(r));
    }
    int failures = 0;
    for (auto& r : requests) {
        co_await r->waitForFinished();
        if (!r->succeeded()) {
            ++failures;
            std::fprintf(stderr, "%s: %s\n", qPrintable(r->url()), qPrintable(r->responseInfo()));
        }
        *bytes += r->bytesRead();
    }
    co_return failures;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool replace = false;
    while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QStringLiteral("--replace"))
            replace = true;
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: transfer_vs_curl_bench [--replace] OUTDIR URL...\n");
        return 2;
    }
    const QString outDir = args.takeFirst();

    // The process-wide engine: what the program itself downloads with.
    dh::TransferEngine& engine = dh::transferEngine();
    // A first small request loads the network code, so that "idle" means a
    // process ready to transfer.
    {
        auto warm = engine.execute(args.first());
        warm->cancel();
    }
    const long idle = statusKib("VmRSS");
    const bool peakReset = resetPeak();

    qint64 bytes = 0;
    QElapsedTimer clock;
    clock.start();
    const int failures = QCoro::waitFor(run(engine, outDir, args, replace, &bytes));
    const double seconds = clock.nsecsElapsed() / 1e9;
    const long peak = peakReset ? statusKib("VmHWM") : -1;

    std::printf("seconds=%.3f bytes=%lld idle_rss_kib=%ld peak_rss_kib=%ld failures=%d\n", seconds,
                static_cast<long long>(bytes), idle, peak, failures);
    return failures == 0 ? 0 : 1;
}
