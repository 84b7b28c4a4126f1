#include "search/SearchQuery.h"

#include "search/ServiceProfile.h"

namespace dh {

// The built-in profile's templates: one rule for the addresses.
QString composeSearchAddress(const QString& base, const QString& keywords, const QString& type, bool whole)
{
    return defaultServiceProfile().queryAddress(base, keywords, type, whole);
}

QString searchHomeAddress(const QString& base)
{
    return defaultServiceProfile().homeAddress(base);
}

QStringList splitKeywordLines(const QString& text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.split(QLatin1Char('\n'));
}

} // namespace dh
