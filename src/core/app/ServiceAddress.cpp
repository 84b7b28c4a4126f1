#include "app/ServiceAddress.h"

#include <QUrl>

namespace dh {

bool IsHttpServiceAddress(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.contains(QLatin1Char(' ')))
        return false;
    const QUrl url(t, QUrl::StrictMode);
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    // "http:/x" and "http:x" parse with an empty host; a user part would let
    // "http://real.site@other.host" point somewhere else than it reads.
    return !url.host().isEmpty() && url.userInfo().isEmpty() && t.contains(QLatin1String("://"));
}

} // namespace dh
