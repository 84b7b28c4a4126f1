#include "cli/CliSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dh::cli {

namespace {
int g_fds[2] = {-1, -1};  // [0] written by the handler, [1] read on the event loop

void onSignal(int sig)
{
    const char c = char(sig);
    // Only async-signal-safe calls here.
    [[maybe_unused]] const auto n = ::write(g_fds[0], &c, 1);
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

StopSignals::StopSignals(std::function<void(int)> onStop, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onStop))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0)
        return;
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readSignal);
    // SA_RESETHAND: a second signal takes the default action.
    setHandler(SIGINT, onSignal, SA_RESTART | SA_RESETHAND);
    setHandler(SIGTERM, onSignal, SA_RESTART | SA_RESETHAND);
}

StopSignals::~StopSignals()
{
    setHandler(SIGINT, SIG_DFL, 0);
    setHandler(SIGTERM, SIG_DFL, 0);
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
    while (::read(g_fds[1], &c, 1) == 1) {
        if (m_received)
            continue;
        m_received = int(static_cast<unsigned char>(c));
        // The other signal may still arrive once; it ends the process too.
        setHandler(m_received == SIGINT ? SIGTERM : SIGINT, SIG_DFL, 0);
        if (m_onSignal)
            m_onSignal(m_received);
    }
}

} // namespace dh::cli
