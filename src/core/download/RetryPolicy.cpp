#include "download/RetryPolicy.h"

#include <QUrl>

#include <algorithm>
#include <cmath>

namespace dh {

bool isTransientFailure(FailCode code, int httpStatus, bool hasRetryAfter)
{
    switch (code) {
    case FailCode::Network:
    case FailCode::CutShort:
    case FailCode::NoResponse:
    case FailCode::Stalled:
    case FailCode::TooSlow:
        return true;
    case FailCode::Http:
        switch (httpStatus) {
        case 408:
        case 429:
        case 500:
        case 502:
        case 503:
        case 504: return true;
        case 403: return hasRetryAfter;
        default: return false;
        }
    default:
        return false;
    }
}

qint64 retryAfterMs(const QString& value, const QDateTime& now)
{
    const QString v = value.trimmed();
    if (v.isEmpty())
        return -1;
    qint64 ms = -1;
    bool isNumber = false;
    const qint64 seconds = v.toLongLong(&isNumber);
    if (isNumber) {
        if (seconds < 0)
            return -1;
        ms = seconds > qint64(1) << 40 ? std::numeric_limits<qint64>::max() : seconds * 1000;
    } else {
        // "Sun, 06 Nov 1994 08:49:37 GMT"; Qt reads RFC 2822 with a numeric zone.
        QString date = v;
        if (date.endsWith(QLatin1String(" GMT")))
            date = date.chopped(4) + QStringLiteral(" +0000");
        const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
        if (!when.isValid())
            return -1;
        ms = std::max<qint64>(0, now.msecsTo(when));
    }
    return std::min<qint64>(ms, timings().retryAfterCap.count());
}

milliseconds backOffWait(int retry, double jitter)
{
    const double first = double(timings().retryFirstWait.count());
    const double cap = double(timings().retryMaxWait.count());
    const double base = first * std::pow(2.0, double(std::clamp(retry, 1, 40) - 1));
    const double wait = std::min(cap, base * (1.0 + 0.25 * std::clamp(jitter, 0.0, 1.0)));
    return milliseconds(qint64(wait));
}

QString hostKey(const QString& url)
{
    const QUrl u(url);
    const int port = u.port(u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    return u.host().toLower() + QLatin1Char(':') + QString::number(port);
}

} // namespace dh
