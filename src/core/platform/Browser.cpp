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
    co_return co_await waitUntil(
        browser, timeout,
        [guard, before] { return guard && !guard->Busy() && guard->completedLoads() > before; },
        std::move(stop));
}

QCoro::Task<bool> navigateAndWait(Browser& browser, const QString& url, std::chrono::milliseconds timeout,
                                  std::function<bool()> stop)
{
    QPointer<Browser> guard(&browser);
    const quint64 before = browser.completedLoads();
    browser.Navigate(url);
    co_return co_await waitUntil(
        browser, timeout,
        [guard, before] { return guard && !guard->Busy() && guard->completedLoads() > before; },
        std::move(stop));
}

} // namespace dh
