#pragma once
#include <QObject>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <memory>

namespace dh {

// Announces that a condition some wait checks may have changed (a stop was
// asked, a delay was edited), so the wait looks again at once instead of on
// a timer.
class WaitSignal : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void raise() { emit raised(); }

signals:
    void raised();
};

// Puts a coroutine to sleep until something it listens to happens:
//
//     Wakeup wake;
//     wake.listen(&browser, &Browser::documentComplete);
//     while (!done()) co_await wake.next();
//
// A wake-up resumes the coroutine on a later turn of the event loop, never
// from inside the signal that caused it, so the sender finishes its own work
// first. A wake that comes while the coroutine is running is kept: the next
// next() returns at once. Destroying the Wakeup drops its connections.
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    template <typename Sender, typename Signal>
    void listen(const Sender* sender, Signal signal)
    {
        if (sender)
            QObject::connect(sender, signal, &m_context, [s = m_state] { s->wake(); });
    }
    // Wakes once after d (a later call replaces an earlier one).
    void wakeAfter(std::chrono::milliseconds d);
    void wake() { m_state->wake(); }

    struct Awaiter {
        Wakeup& w;
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> h) noexcept;
        void await_resume() const noexcept {}
    };
    Awaiter next() { return Awaiter{*this}; }

private:
    struct State : std::enable_shared_from_this<State> {
        std::coroutine_handle<> waiting;
        bool pending = false;  // a wake not yet seen by the coroutine
        bool posted = false;   // a resume is queued on the event loop
        void wake();
        void post();
    };
    std::shared_ptr<State> m_state;
    QObject m_context;  // owns the connections
    QTimer m_timer;
};

} // namespace dh
