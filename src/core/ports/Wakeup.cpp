#include "ports/Wakeup.h"

#include <QCoreApplication>

#include <utility>

namespace dh {

Wakeup::Wakeup() : m_state(std::make_shared<State>())
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_context, [s = m_state] { s->wake(); });
}

Wakeup::~Wakeup() = default;

void Wakeup::wakeAfter(std::chrono::milliseconds d)
{
    m_timer.start(std::max(d, std::chrono::milliseconds(0)));
}

void Wakeup::State::wake()
{
    pending = true;
    if (waiting)
        post();
}

void Wakeup::State::post()
{
    if (posted)
        return;
    posted = true;
    // Queued on the application object, which outlives any wait: the state
    // is held only weakly, so a wait destroyed meanwhile is simply not resumed.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak = weak_from_this()] {
            const std::shared_ptr<State> s = weak.lock();
            if (!s)
                return;
            s->posted = false;
            if (!s->waiting || !s->pending)
                return;
            s->pending = false;
            std::exchange(s->waiting, {}).resume();
        },
        Qt::QueuedConnection);
}

bool Wakeup::Awaiter::await_ready() const noexcept
{
    if (!w.m_state->pending)
        return false;
    w.m_state->pending = false;
    return true;
}

void Wakeup::Awaiter::await_suspend(std::coroutine_handle<> h) noexcept
{
    w.m_state->waiting = h;
}

} // namespace dh
