#include "app/ServiceAddress.h"

#include <QUrl>

namespace dh {

bool IsWebAddress(const QString& text)
{
    const QUrl u(text.trimmed(), QUrl::TolerantMode);
    const QString scheme = u.scheme().toLower();
    return u.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !u.host().isEmpty();
}

QString ServiceBaseProblem(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QStringLiteral("the address is empty");
    if (!IsWebAddress(t))
        return QStringLiteral("'%1' is not an http or https address").arg(t);
    return {};
}

QString ServiceBaseFromSettings(const SettingKey& key, QString* problem)
{
    const QString stored = SettingsStore::instance().get(key);
    const QString why = ServiceBaseProblem(stored);
    if (problem)
        *problem = why;
    return why.isEmpty() ? stored.trimmed() : QString::fromUtf8(key.defaultValue);
}

} // namespace dh
