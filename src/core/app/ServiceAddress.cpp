#include "app/ServiceAddress.h"

#include <QUrl>

namespace dh {

bool isHttpServiceAddress(const QString& text)
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

bool isWebAddress(const QString& text)
{
    const QUrl u(text.trimmed(), QUrl::TolerantMode);
    const QString scheme = u.scheme().toLower();
    return u.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !u.host().isEmpty();
}

QString serviceBaseProblem(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QStringLiteral("the address is empty");
    if (!isHttpServiceAddress(t))
        return QStringLiteral("'%1' is not an http or https address").arg(t);
    return {};
}

QString serviceBaseFromSettings(const SettingKey& key, QString* problem)
{
    const QString stored = SettingsStore::instance().get(key).trimmed();
    const QString why = stored.isEmpty() ? QString() : serviceBaseProblem(stored);
    if (problem)
        *problem = why;
    return why.isEmpty() ? stored : QString::fromUtf8(key.defaultValue);
}

} // namespace dh
