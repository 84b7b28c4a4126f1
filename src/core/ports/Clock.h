#pragma once
#include <QDateTime>
#include <functional>

namespace dh {

// "Now" for the engine. Tests replace it to step time by hand.
class Clock {
public:
    static QDateTime now();
    // Seconds since midnight, as the transfer bookkeeping counts them.
    static double secondsOfDay();
    static void setSource(std::function<QDateTime()> source);  // empty restores the system clock
};

} // namespace dh
