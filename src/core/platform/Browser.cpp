#include "platform/Browser.h"

#include "app/Timings.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QPointer>

namespace dh {

QCoro::Task<bool> waitUntil(Browser& browser, std::chrono::milliseconds timeout,
                            std::function<bool()> done, std::function<bool()> stop)
{
    QPointer<Browser> guard(&browser);
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        if (!guard)
            co_return false;
        if (done && done())
            co_return true;
        if (stop && stop())
            co_return false;
        if (elapsed.elapsed() > timeout.count())
            co_return false;
        auto step = timings().browserPoll;
        if (step.count() <= 0)
            step = std::chrono::milliseconds(1);
        co_await QCoro::sleepFor(step);
    }
}

QCoro::Task<bool> waitUntilLoaded(Browser& browser, std::chrono::milliseconds timeout,
                                  std::function<bool()> stop)
{
    QPointer<Browser> guard(&browser);
    const quint64 before = browser.completedLoads();
    // The condition is a named local: g++ 12 destroys a lambda temporary
    // written inside a co_await expression twice.
    std::function<bool()> done = [guard, before] {
        return guard && !guard->busy() && guard->completedLoads() > before;
    };
    const bool ok = co_await waitUntil(browser, timeout, std::move(done), std::move(stop));
    co_return ok;
}

QCoro::Task<bool> navigateAndWait(Browser& browser, const QString& url, std::chrono::milliseconds timeout,
                                  std::function<bool()> stop)
{
    QPointer<Browser> guard(&browser);
    const quint64 before = browser.completedLoads();
    std::function<bool()> done = [guard, before] {
        return guard && !guard->busy() && guard->completedLoads() > before;
    };
    browser.navigate(url);
    const bool ok = co_await waitUntil(browser, timeout, std::move(done), std::move(stop));
    co_return ok;
}

} // namespace dh
