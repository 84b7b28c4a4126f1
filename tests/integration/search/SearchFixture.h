#pragma once
// The search engine driving the headless browser against the demo service,
// with shrunken waits; what the engine and the browser report is recorded.

#include "app/AppGlobals.h"
#include "app/Timings.h"
#include "demo/DemoSearch.h"
#include "demo/DemoService.h"
#include "ports/Prompter.h"
#include "platform/headless/HeadlessBrowser.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

#include <QCoroTask>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QSet>

#include <gtest/gtest.h>

#include <memory>

namespace dh::test {

struct SeenQuery {
    QString keywords, type, url;
};

class SearchFixture : public ::testing::Test {
protected:
    std::unique_ptr<demo::DemoService> service;
    QString base;
    std::unique_ptr<HeadlessBrowser> browser;
    std::shared_ptr<SearchEngine> engine;
    ScriptedPrompter prompter;
    Timings savedTimings = timings();

    std::vector<SeenQuery> queries;
    QStringList completed;         // top-level documentComplete addresses, in order
    std::vector<qint64> completedAt;  // ms since the fixture started
    QStringList verificationUrls;
    QElapsedTimer clock;

    void start(demo::DemoOptions options)
    {
        service = std::make_unique<demo::DemoService>(options);
        ASSERT_TRUE(service->start());
        base = service->baseUrl();
        Prompter::setInstance(&prompter);
        auto& t = timings();
        t.pageLoadWait = std::chrono::milliseconds(10000);
        t.nextPageWait = std::chrono::milliseconds(10000);
        t.secondUnit = std::chrono::milliseconds(50);
        globals().promptOnExtract = false;
        globals().saveFolder.clear();

        browser = std::make_unique<HeadlessBrowser>();
        engine = SearchEngine::create();
        engine->setBrowser(browser.get());
        engine->searchBase = base;
        engine->delaySeconds = 0;
        engine->extractOptions.excludedDomain = QStringLiteral("baidu.com");
        clock.start();
        QObject::connect(browser.get(), &Browser::documentComplete, engine.get(), [this](bool top, const QString& url) {
            if (!top)
                return;
            completed << url;
            completedAt.push_back(clock.elapsed());
        });
        QObject::connect(engine.get(), &SearchEngine::queryStarted, engine.get(),
                         [this](const QString& k, const QString& t, const QString& u) { queries.push_back({k, t, u}); });
        QObject::connect(engine.get(), &SearchEngine::verificationPageMet, engine.get(),
                         [this](const QString& u) { verificationUrls << u; });
    }

    void TearDown() override
    {
        if (engine)
            engine->setBrowser(nullptr);
        browser.reset();
        if (service)
            service->stop();
        timings() = savedTimings;
        Prompter::setInstance(nullptr);
    }

    void batch(const QString& text) { QCoro::waitFor(engine->batchSearchTask(text)); }

    // Loads a page outside the engine and waits for it.
    bool load(const QString& url)
    {
        const quint64 before = browser->completedLoads();
        HeadlessBrowser* b = browser.get();
        browser->navigate(url);
        std::function<bool()> done = [b, before] { return !b->busy() && b->completedLoads() > before; };
        return QCoro::waitFor(waitUntil(*browser, std::chrono::milliseconds(10000), std::move(done)));
    }

    // Runs the event loop until cond holds (at most ms milliseconds). The
    // engine's waits follow the browser's events; a test's condition may
    // follow anything, so it is looked at after every short sleep.
    bool spinUntil(const std::function<bool()>& cond, int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!cond()) {
            if (t.elapsed() > ms)
                return false;
            QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(5)));
        }
        return true;
    }

    // The links a query should yield, page by page, from the service's own
    // description of its results: the slots the extraction keeps.
    QSet<QString> expectedUrls(const QString& keywords, const QString& type, int lastPage = 0) const
    {
        QSet<QString> out;
        demo::SearchQuery q;
        q.home = false;
        q.keywords = keywords;
        q.type = type;
        const int pages = demo::pageCount(q, service->state().options);
        for (int p = 1; p <= (lastPage > 0 ? lastPage : pages); ++p) {
            q.page = p;
            for (const demo::DemoResult& r : demo::resultsFor(q, base, service->state().options)) {
                using S = demo::ResultSlot;
                const bool kept = r.slot == S::Plain || r.slot == S::TypePrefix || r.slot == S::Ellipsis
                                  || r.slot == S::Markup || r.slot == S::UpperCaseExt
                                  || (r.slot == S::ProtectedOrDuplicate && p == 1)
                                  || (r.slot == S::DotsOrSpaces && p > 1);
                if (kept)
                    out.insert(r.absoluteUrl);
            }
        }
        return out;
    }

    int pagesOf(const QString& keywords, const QString& type) const
    {
        demo::SearchQuery q;
        q.home = false;
        q.keywords = keywords;
        q.type = type;
        return demo::pageCount(q, service->state().options);
    }

    QSet<QString> listedUrls() const
    {
        QSet<QString> s;
        for (const LinkItem& it : engine->links()->items())
            s.insert(it.url);
        return s;
    }

    const LinkItem* linkFor(const QString& url) const
    {
        const int row = engine->links()->findUrl(url);
        return row < 0 ? nullptr : &engine->links()->item(row);
    }
};

} // namespace dh::test
