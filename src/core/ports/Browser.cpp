#include "ports/Browser.h"

#include <QDeadlineTimer>
#include <QPointer>

namespace dh {

QCoro::Task<bool> waitUntil(Browser& browser, std::chrono::milliseconds timeout,
                            std::function<bool()> done, std::function<bool()> stop, const WaitSignal* stopRaised)
{
    QPointer<Browser> guard(&browser);
    const QDeadlineTimer deadline(timeout, Qt::PreciseTimer);
    Wakeup wake;
    wake.listen(&browser, &Browser::beforeNavigate);
    wake.listen(&browser, &Browser::navigateError);
    wake.listen(&browser, &Browser::documentComplete);
    wake.listen(&browser, &QObject::destroyed);
    wake.listen(stopRaised, &WaitSignal::raised);
    for (;;) {
        if (!guard)
            co_return false;
        if (done && done())
            co_return true;
        if (stop && stop())
            co_return false;
        if (deadline.hasExpired())
            co_return false;
        if (!deadline.isForever())
            wake.wakeAfter(std::chrono::milliseconds(deadline.remainingTime()));
        co_await wake.next();
    }
}

QCoro::Task<bool> waitUntilLoaded(Browser& browser, std::chrono::milliseconds timeout,
                                  std::function<bool()> stop, const WaitSignal* stopRaised)
{
    QPointer<Browser> guard(&browser);
    const quint64 before = browser.completedLoads();
    // The condition is a named local: g++ 12 destroys a lambda temporary
    // written inside a co_await expression twice.
    std::function<bool()> done = [guard, before] {
        return guard && !guard->busy() && guard->completedLoads() > before;
    };
    const bool ok = co_await waitUntil(browser, timeout, std::move(done), std::move(stop), stopRaised);
    co_return ok;
}

QCoro::Task<bool> navigateAndWait(Browser& browser, const QString& url, std::chrono::milliseconds timeout,
                                  std::function<bool()> stop, const WaitSignal* stopRaised)
{
    QPointer<Browser> guard(&browser);
    const quint64 before = browser.completedLoads();
    std::function<bool()> done = [guard, before] {
        return guard && !guard->busy() && guard->completedLoads() > before;
    };
    browser.navigate(url);
    const bool ok = co_await waitUntil(browser, timeout, std::move(done), std::move(stop), stopRaised);
    co_return ok;
}

} // namespace dh
