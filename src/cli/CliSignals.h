#pragma once
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace dh::cli {

// Turns SIGINT and SIGTERM into a call on the event loop, so that a command
// can stop its work the way its window's stop button does and still close its
// output properly. Only the first signal is handled that way; after it the
// default action is back, so a second Ctrl-C ends the process at once.
// One instance at a time; the destructor restores the default actions.
class StopSignals : public QObject {
public:
    explicit StopSignals(std::function<void(int signal)> onStop, QObject* parent = nullptr);
    ~StopSignals() override;

    // The signal received (SIGINT, SIGTERM), 0 when none came.
    int received() const { return m_received; }
    // The exit code of a command stopped by that signal: 128 + its number
    // (130 for SIGINT, 143 for SIGTERM); 0 when none came.
    int exitCode() const { return m_received ? 128 + m_received : 0; }

private:
    void readSignal();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
    int m_received = 0;
};

} // namespace dh::cli
