#pragma once
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace dh::cli {

// Turns SIGINT and SIGTERM into calls on the event loop, so that a command
// can stop its work the way its window's stop button does and still close its
// output properly. The first signal asks for that stop (onStop). The same
// signal again within timings().signalRepeat is the same request (GNU
// timeout sends its SIGTERM to the program and again to its group) and is
// ignored. Any later signal asks to end at once (onForce): the command writes
// what it has and leaves without waiting for its transfers; should the event
// loop not get there within timings().forcedStopGrace, the process ends.
// One instance at a time; the destructor restores the default actions.
class StopSignals : public QObject {
public:
    explicit StopSignals(std::function<void(int signal)> onStop, std::function<void(int signal)> onForce,
                         QObject* parent = nullptr);
    ~StopSignals() override;

    // The first signal received (SIGINT, SIGTERM), 0 when none came.
    int received() const { return m_received; }
    // The exit code of a command stopped by that signal: 128 + its number
    // (130 for SIGINT, 143 for SIGTERM); 0 when none came.
    int exitCode() const { return m_received ? 128 + m_received : 0; }

private:
    void readSignal();

    std::function<void(int)> m_onStop;
    std::function<void(int)> m_onForce;
    QSocketNotifier* m_notifier = nullptr;
    int m_received = 0;
    bool m_forced = false;
};

} // namespace dh::cli
