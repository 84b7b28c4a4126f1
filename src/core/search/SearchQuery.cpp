#include "search/SearchQuery.h"

#include "app/Helpers.h"

namespace dh {

namespace {
QString stripSlash(const QString& base)
{
    QString b = base;
    while (b.endsWith(QLatin1Char('/')))
        b.chop(1);
    return b;
}
} // namespace

QString composeSearchAddress(const QString& base, const QString& keywords, const QString& type, bool whole)
{
    QString q = encodeKeyword(trimSpaces(keywords));
    if (whole)
        q = QStringLiteral("%22") + q + QStringLiteral("%22");
    return stripSlash(base) + QStringLiteral("/p?w=") + q + QStringLiteral("+filetype%3A") + type;
}

QString searchHomeAddress(const QString& base)
{
    return stripSlash(base) + QStringLiteral("/p?w=1");
}

QStringList splitKeywordLines(const QString& text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.split(QLatin1Char('\n'));
}

} // namespace dh
