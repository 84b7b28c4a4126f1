#pragma once
// Which failed transfers are tried again, and how long a row waits first.
#include "app/Timings.h"
#include "download/DownloadItem.h"

#include <QDateTime>
#include <QString>

namespace dh {

// A failure another attempt may mend: a connection refused, reset or closed
// early, the time-outs, and the answers 408, 429, 500, 502, 503 and 504; a
// 403 only when the server said when to come back. Anything else (404, 410,
// a refused secure connection, the size limit, a local failure) is final.
bool isTransientFailure(FailCode code, int httpStatus, bool hasRetryAfter);

// The wait a Retry-After value asks for, in seconds or as an HTTP date (then
// counted from now); -1 when there is none or it cannot be read. Capped at
// timings().retryAfterCap.
qint64 retryAfterMs(const QString& value, const QDateTime& now = QDateTime::currentDateTimeUtc());

// The wait before retry n (1: the first): timings().retryFirstWait, doubled
// for each further retry, plus up to a quarter more (jitter, 0..1), at most
// timings().retryMaxWait.
milliseconds backOffWait(int retry, double jitter);

// A cut that came after this much of a body the next attempt goes on from
// is retried at once: the server was answering, and waiting only loses time.
// Less than this, and the usual back-off holds, so a server that drops every
// connection after a few bytes is not asked again and again without a pause.
constexpr qint64 kPromptResumeGain = 64 * 1024;

// What a row's transfers count against for the per-host limit and a host's
// Retry-After: the host and port of its address, in lower case.
QString hostKey(const QString& url);

} // namespace dh
