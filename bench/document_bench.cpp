// Result-page extraction speed of the gumbo document model against
// BeautifulSoup over lxml (Debian's python3-bs4 run by /usr/bin/python3),
// on the same ~200 KB demo result page, measured in the same run.
//
// usage: document_bench [--kb 200] [--runs 300] [--py-runs 60]
// (bench/document_bench.sh installs python3-bs4/python3-lxml when missing
//  and runs this program.)
//
// Extraction = what the search window does with a result page: parse the
// bytes, first element of class "content-net-left", its H3 headings, each
// heading's first A, the link's innerText and absolute href, and the texts
// of the pager links of class "next". A second figure adds the check of the
// serialised page for the verification marker.

#include "demo/DemoSearch.h"
#include "demo/DemoService.h"
#include "html/Document.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace dh;

namespace {

struct Found {
    int links = 0;
    QString firstTitle;
    QString lastHref;
    QStringList pager;
};

Found extract(const QByteArray& bytes, const QUrl& url, bool withMarker)
{
    Found f;
    auto doc = Document::parse(bytes, url, QStringLiteral("text/html; charset=utf-8"));
    if (withMarker && doc->outerHTML().contains(demo::verificationMarker()))
        return f;
    const Element box = doc->getElementsByClassName(QStringLiteral("content-net-left")).item(0);
    for (const Element& h3 : box.getElementsByTagName(QStringLiteral("H3"))) {
        const Element a = h3.getElementsByTagName(QStringLiteral("A")).item(0);
        if (a.isNull())
            continue;
        const QString title = a.innerText().trimmed();
        const QString href = a.href().trimmed();
        if (f.links == 0)
            f.firstTitle = title;
        f.lastHref = href;
        ++f.links;
    }
    for (const Element& n : doc->getElementsByClassName(QStringLiteral("next")))
        f.pager << n.innerText().trimmed();
    return f;
}

struct Timing {
    double median = 0;
    double best = 0;
};

template <typename F>
Timing measure(int runs, F&& f)
{
    std::vector<double> ms;
    ms.reserve(size_t(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    return {n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2, ms.front()};
}

QByteArray fetch(quint16 port, const std::string& path)
{
    httplib::Client cli("127.0.0.1", port);
    auto res = cli.Get(path.c_str());
    if (!res || res->status != 200)
        return {};
    return QByteArray::fromStdString(res->body);
}

QJsonObject runPython(const QString& script, const QString& file, const QString& url, int runs, bool marker)
{
    QProcess p;
    QStringList args{script, file, url, QString::number(runs)};
    if (marker)
        args << QStringLiteral("marker");
    p.start(QStringLiteral("/usr/bin/python3"), args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "python peer failed: %s\n", p.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput().trimmed()).object();
}

int argValue(const QStringList& args, const char* name, int def)
{
    const int i = args.indexOf(QLatin1String(name));
    return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : def;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int targetKb = argValue(args, "--kb", 200);
    const int runs = argValue(args, "--runs", 300);
    const int pyRuns = argValue(args, "--py-runs", 60);

    // The Python peer sits beside this source file.
    const int si = args.indexOf(QStringLiteral("--script"));
    const QString script = si >= 0 && si + 1 < args.size()
                               ? args[si + 1]
                               : QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/document_bench.py");
    if (!QFile::exists(script)) {
        std::fprintf(stderr, "cannot find %s\n", qPrintable(script));
        return 2;
    }

    // A demo result page with as many results as it takes to reach the size.
    demo::DemoOptions opts;
    opts.rateLimitPages = -1;
    opts.pagesPerQuery = 3;
    demo::DemoService svc(opts);
    if (!svc.start()) {
        std::fprintf(stderr, "demo service did not start\n");
        return 2;
    }
    const std::string path = "/p?w=" + demo::composeW(QStringLiteral("教程"), QStringLiteral("pdf"));
    const QByteArray sample = fetch(svc.port(), path);
    int perPage = std::max(10, int(10.0 * targetKb * 1024 / std::max<qsizetype>(1, sample.size())));
    QByteArray page;
    for (int attempt = 0; attempt < 10; ++attempt) {
        {
            std::lock_guard lock(svc.state().mutex);
            svc.state().options.resultsPerPage = perPage;
        }
        page = fetch(svc.port(), path);
        if (page.isEmpty() || page.size() >= targetKb * 1024)
            break;
        perPage = int(perPage * (targetKb * 1024.0 / page.size()) * 1.02) + 1;
    }
    if (page.isEmpty()) {
        std::fprintf(stderr, "could not fetch the result page\n");
        return 2;
    }
    const QUrl url(svc.baseUrl() + QString::fromStdString(path));
    QTemporaryDir tmp;
    const QString file = tmp.path() + QStringLiteral("/page.html");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(page) != page.size())
            return 2;
    }
    svc.stop();

    const Found mine = extract(page, url, false);
    std::printf("page: %.1f KB, %d results, %d pager links\n", page.size() / 1024.0, mine.links,
                int(mine.pager.size()));

    // Warm up, then the measured runs.
    for (int i = 0; i < 5; ++i)
        extract(page, url, false);
    const Timing cpp = measure(runs, [&] { extract(page, url, false); });
    const Timing cppMarker = measure(runs, [&] { extract(page, url, true); });
    auto parsed = Document::parse(page, url, QStringLiteral("text/html; charset=utf-8"));
    const Timing parseOnly = measure(runs, [&] { Document::parse(page, url, QStringLiteral("text/html; charset=utf-8")); });
    const Timing outer = measure(runs, [&] { (void)parsed->outerHTML(); });

    const QJsonObject py = runPython(script, file, url.toString(), pyRuns, false);
    const QJsonObject pyMarker = runPython(script, file, url.toString(), pyRuns, true);
    if (py.isEmpty() || pyMarker.isEmpty()) {
        std::fprintf(stderr, "the BeautifulSoup peer did not run; install python3-bs4 python3-lxml "
                             "(bench/document_bench.sh does)\n");
        return 1;
    }
    const bool same = py.value(QStringLiteral("links")).toInt() == mine.links
                      && py.value(QStringLiteral("first_title")).toString() == mine.firstTitle
                      && py.value(QStringLiteral("last_href")).toString() == mine.lastHref;

    std::printf("gumbo document model (median of %d, best):\n", runs);
    std::printf("  parse + extraction          %8.2f ms  %8.2f ms\n", cpp.median, cpp.best);
    std::printf("  parse + marker + extraction %8.2f ms  %8.2f ms\n", cppMarker.median, cppMarker.best);
    std::printf("  of which parse only         %8.2f ms\n", parseOnly.median);
    std::printf("  outerHTML serialisation     %8.2f ms\n", outer.median);
    const double pyMed = py.value(QStringLiteral("median_ms")).toDouble();
    const double pyMarkerMed = pyMarker.value(QStringLiteral("median_ms")).toDouble();
    std::printf("BeautifulSoup %s over lxml, /usr/bin/python3 (median of %d, best):\n", "4", pyRuns);
    std::printf("  parse + extraction          %8.2f ms  %8.2f ms\n", pyMed,
                py.value(QStringLiteral("best_ms")).toDouble());
    std::printf("  parse + marker + extraction %8.2f ms  %8.2f ms\n", pyMarkerMed,
                pyMarker.value(QStringLiteral("best_ms")).toDouble());
    std::printf("same results on both sides: %s (%d links)\n", same ? "yes" : "NO",
                py.value(QStringLiteral("links")).toInt());
    std::printf("ratio (BeautifulSoup time / gumbo model time): %.2fx extraction, %.2fx with marker check\n",
                pyMed / cpp.median, pyMarkerMed / cppMarker.median);
    return same ? 0 : 1;
}
