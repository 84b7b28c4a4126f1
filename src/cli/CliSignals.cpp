#include "cli/CliSignals.h"

#include "app/Timings.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace dh::cli {

namespace {
// Shared with the handler, which may only use async-signal-safe calls. It may
// run on several threads at once (the kernel hands a signal to any thread that
// does not block it): the last counted signal and its time are one atomic word.
int g_fds[2] = {-1, -1};  // pipe: [1] written by the handler, [0] read on the event loop
std::atomic<std::uint64_t> g_last{0};  // milliseconds << 8 | signal
std::atomic<int> g_counted{0};
long long g_repeatMs = 0;
long long g_graceMs = 0;
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

std::uint64_t nowMs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1000 + std::uint64_t(ts.tv_nsec / 1000000);
}

void onSignal(int sig)
{
    const int savedErrno = errno;
    // The time is taken here, not on the event loop, which may be late.
    const std::uint64_t now = nowMs();
    std::uint64_t last = g_last.load();
    for (;;) {
        if (int(last & 0xFF) == sig && now - (last >> 8) < std::uint64_t(g_repeatMs)) {
            errno = savedErrno;
            return;  // the same request again
        }
        if (g_last.compare_exchange_weak(last, now << 8 | std::uint64_t(sig)))
            break;
    }
    if (g_counted.fetch_add(1) + 1 == 2 && g_graceMs > 0) {
        // A last resort should the event loop be stuck: SIGALRM's default
        // action (set up front) ends the process.
        itimerval t {};
        t.it_value.tv_sec = time_t(g_graceMs / 1000);
        t.it_value.tv_usec = suseconds_t(g_graceMs % 1000 * 1000);
        ::setitimer(ITIMER_REAL, &t, nullptr);
    }
    const char c = char(sig);
    [[maybe_unused]] const auto n = ::write(g_fds[1], &c, 1);
    errno = savedErrno;
}

void setHandler(int sig, void (*handler)(int), int flags)
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    ::sigaction(sig, &sa, nullptr);
}
} // namespace

StopSignals::StopSignals(std::function<void(int)> onStop, std::function<void(int)> onForce, QObject* parent)
    : QObject(parent), m_onStop(std::move(onStop)), m_onForce(std::move(onForce))
{
    if (::pipe2(g_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_last = 0;
    g_counted = 0;
    g_repeatMs = (long long)timings().signalRepeat.count();
    g_graceMs = (long long)timings().forcedStopGrace.count();
    ::signal(SIGALRM, SIG_DFL);
    m_notifier = new QSocketNotifier(g_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readSignal);
    setHandler(SIGINT, onSignal, SA_RESTART);
    setHandler(SIGTERM, onSignal, SA_RESTART);
}

StopSignals::~StopSignals()
{
    setHandler(SIGINT, SIG_DFL, 0);
    setHandler(SIGTERM, SIG_DFL, 0);
    const itimerval off {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    for (int& fd : g_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void StopSignals::readSignal()
{
    char c = 0;
    while (::read(g_fds[0], &c, 1) == 1) {
        const int sig = int(static_cast<unsigned char>(c));
        if (!m_received) {
            m_received = sig;
            if (m_onStop)
                m_onStop(sig);
        } else if (!m_forced) {
            m_forced = true;
            if (m_onForce)
                m_onForce(sig);
        }
    }
}

} // namespace dh::cli
