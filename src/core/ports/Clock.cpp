#include "ports/Clock.h"

namespace dh {

namespace {
std::function<QDateTime()>& source()
{
    static std::function<QDateTime()> s;
    return s;
}
} // namespace

QDateTime Clock::now()
{
    return source() ? source()() : QDateTime::currentDateTime();
}

double Clock::secondsOfDay()
{
    const QTime t = now().time();
    return t.msecsSinceStartOfDay() / 1000.0;
}

void Clock::setSource(std::function<QDateTime()> s)
{
    source() = std::move(s);
}

} // namespace dh
