// Extraction of one result page with 200 results from the demo service:
// parsing (gumbo Document) and the result extraction, and the whole step as
// the engine runs it (snapshot + extraction + links list). The peer is a
// plain regular-expression scan of the same source for "<h3><a href" pairs,
// which is what a parser-free extraction would cost at the least.
#include "demo/DemoService.h"
#include "html/Document.h"
#include "platform/headless/HeadlessBrowser.h"
#include "search/Extraction.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace dh;

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool load(HeadlessBrowser& b, const QString& url)
{
    const quint64 before = b.completedLoads();
    b.navigate(url);
    std::function<bool()> done = [&b, before] { return !b.busy() && b.completedLoads() > before; };
    return QCoro::waitFor(waitUntil(b, std::chrono::milliseconds(10000), std::move(done)));
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    demo::DemoOptions o;
    o.rateLimitPages = -1;
    o.resultsPerPage = 200;
    o.pagesPerQuery = 1;
    demo::DemoService svc(o);
    if (!svc.start())
        return 1;
    const QString url = composeSearchAddress(svc.baseUrl(), QStringLiteral("教程"), QStringLiteral("pdf"), false);

    HeadlessBrowser browser;
    if (!load(browser, url))
        return 1;
    const DocumentPtr loaded = browser.lastDocument();
    if (!loaded)
        return 1;
    const QString html = loaded->outerHTML();
    const QUrl pageUrl(url);

    ExtractOptions opts;
    opts.excludedDomain = QStringLiteral("baidu.com");
    std::vector<double> parse, extract, engineStep, peer;
    int links = 0;
    int peerLinks = 0;
    for (int round = 0; round < 25; ++round) {
        QElapsedTimer t;
        t.start();
        auto doc = Document::fromHtml(html, pageUrl);
        parse.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        const PageExtraction r = extractResultLinks(*doc, opts);
        extract.push_back(t.nsecsElapsed() / 1e6);
        links = int(r.links.size());

        static const QRegularExpression re(QStringLiteral("<h3><a href=\"([^\"]*)\"[^>]*>(.*?)</a>"));
        t.restart();
        int n = 0;
        auto it = re.globalMatch(html);
        while (it.hasNext()) {
            const auto m = it.next();
            n += !m.captured(1).isEmpty();
        }
        peer.push_back(t.nsecsElapsed() / 1e6);
        peerLinks = n;
    }

    // The engine's step on a freshly loaded page: snapshot, extraction, rows.
    for (int round = 0; round < 10; ++round) {
        auto engine = SearchEngine::create();
        engine->setBrowser(&browser);
        engine->extractOptions = opts;
        if (!load(browser, url))
            return 1;
        QElapsedTimer t;
        t.start();
        const int added = QCoro::waitFor(engine->extractCurrentPage(QString()));
        engineStep.push_back(t.nsecsElapsed() / 1e6);
        if (added != links)
            std::fprintf(stderr, "engine added %d, extraction found %d\n", added, links);
        engine->setBrowser(nullptr);
    }

    std::printf("result page: %lld characters, 200 results, %d links kept (regex peer saw %d headings)\n",
                static_cast<long long>(html.size()), links, peerLinks);
    std::printf("parse (gumbo Document)        median %.2f ms\n", median(parse));
    std::printf("ExtractResultLinks            median %.2f ms\n", median(extract));
    std::printf("parse + extraction            median %.2f ms\n", median(parse) + median(extract));
    std::printf("engine ExtractCurrentPage     median %.2f ms (snapshot + extraction + links list)\n",
                median(engineStep));
    std::printf("peer: regex scan              median %.2f ms\n", median(peer));
    std::printf("ratio (parse + extraction) / regex peer: %.1fx\n", (median(parse) + median(extract)) / median(peer));
    svc.stop();
    return 0;
}
