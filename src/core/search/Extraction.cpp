#include "search/Extraction.h"

#include "app/ServiceAddress.h"

#include "app/Helpers.h"

#include <QUrl>
#include <QUrlQuery>

namespace dh {

QString verificationMarker()
{
    return QStringLiteral("请输入以下验证码，即可恢复使用。");
}

QString fileTypeFromUrl(const QString& url)
{
    const QString tail = url.right(4).toUpper();
    if (tail == QLatin1String(".PDF"))
        return QStringLiteral("pdf");
    if (tail == QLatin1String(".DOC"))
        return QStringLiteral("doc");
    if (tail == QLatin1String(".XLS"))
        return QStringLiteral("xls");
    if (tail == QLatin1String(".PPT"))
        return QStringLiteral("ppt");
    if (tail == QLatin1String(".TXT"))
        return QStringLiteral("txt");
    return QString();
}

QString cleanResultTitle(const QString& text, const QString& type, bool removeSpaces)
{
    QString t = trimSpaces(text);
    t.remove(QStringLiteral("..."), Qt::CaseInsensitive);
    if (removeSpaces)
        t.remove(QLatin1Char(' '));
    if (!type.isEmpty()) {
        const QString prefix = QStringLiteral("【") + type.toLower() + QStringLiteral("】");
        if (t.toLower().startsWith(prefix))
            t = trimSpaces(t.mid(prefix.size()));
    }
    return t;
}

bool isExcludedTitle(const QString& title, const QString& excludedDomain)
{
    static const QStringList fixed = {QStringLiteral("_百度文库"), QStringLiteral("-百度文库"),
                                      QStringLiteral("-豆丁网"), QStringLiteral("-道客巴巴")};
    for (const QString& s : fixed) {
        if (title.endsWith(s, Qt::CaseInsensitive))
            return true;
    }
    const QString domain = excludedDomain.trimmed().toLower();
    if (!domain.isEmpty()) {
        const QString suffix = domain + QStringLiteral("豆丁网");
        if (title.toLower().endsWith(suffix))
            return true;
    }
    return false;
}

PageExtraction extractResultLinks(const Document& doc, const ExtractOptions& options)
{
    return extractResultLinks(doc, options, defaultServiceProfile());
}

namespace {

// The first match below scope, or scope itself when it matches and nothing
// below does (an item that is its own link).
Element firstOrSelf(const Element& scope, const css::SelectorList& selector)
{
    const Element below = scope.querySelector(selector);
    if (!below.isNull())
        return below;
    return scope.matches(selector) ? scope : Element();
}

QString attributeAddress(const Element& link, const Element& item, const ServiceProfile& profile)
{
    if (profile.urlAttribute.isEmpty())
        return trimSpaces(link.href());
    if (!link.isNull() && link.hasAttribute(profile.urlAttribute))
        return trimSpaces(link.resolvedAttribute(profile.urlAttribute));
    if (item.hasAttribute(profile.urlAttribute))
        return trimSpaces(item.resolvedAttribute(profile.urlAttribute));
    return trimSpaces(link.href());
}

// A redirector's address gives way to the real one in its query parameter.
QString resultAddress(const Element& link, const Element& item, const ServiceProfile& profile)
{
    const QString address = attributeAddress(link, item, profile);
    if (profile.urlParameter.isEmpty())
        return address;
    const QString inner = trimSpaces(
        QUrlQuery(QUrl(address)).queryItemValue(profile.urlParameter, QUrl::FullyDecoded));
    return isWebAddress(inner) ? inner : address;
}

} // namespace

PageExtraction extractResultLinks(const Document& doc, const ExtractOptions& options, const ServiceProfile& profile)
{
    PageExtraction out;
    for (const QString& marker : profile.verification) {
        if (doc.outerHTMLContains(marker, Qt::CaseInsensitive)) {
            out.verificationPage = true;
            return out;
        }
    }
    if (!profile.itemSelector)
        return out;
    ElementCollection items;
    if (profile.containerSelector) {
        const Element container = doc.querySelector(*profile.containerSelector);
        if (container.isNull())
            return out;
        out.hasContainer = true;
        items = container.querySelectorAll(*profile.itemSelector);
    } else {
        items = doc.querySelectorAll(*profile.itemSelector);
        out.hasContainer = !items.isEmpty();
    }
    for (const Element& item : items) {
        const Element link = firstOrSelf(item, *profile.linkSelector);
        if (link.isNull())
            continue;
        const QString url = resultAddress(link, item, profile);
        QString type = fileTypeFromUrl(url);
        if (type.isEmpty() && profile.typeSource == ServiceProfile::TypeSource::Query)
            type = options.queryType;
        const Element titleElement = profile.titleSelector ? firstOrSelf(item, *profile.titleSelector) : link;
        const QString title = cleanResultTitle(titleElement.innerText(), type, options.removeSpaces);
        if (options.dropUnknownType && type.isEmpty())
            continue;
        if (title.isEmpty() || url.isEmpty() || isExcludedTitle(title, options.excludedDomain))
            continue;
        // javascript:, data:, file:, mailto: ... lead to nothing that can be downloaded.
        if (!isWebAddress(url))
            continue;
        out.links.append({title, url, type});
    }
    return out;
}

ElementCollection nextPageCandidates(const Document& doc, const ServiceProfile& profile)
{
    if (!profile.nextSelector && profile.nextText.isEmpty())
        return {};
    if (profile.nextSelector)
        return doc.querySelectorAll(*profile.nextSelector);
    return doc.querySelectorAll(QStringLiteral("a"));
}

bool isNextPageLink(const Element& candidate, const ServiceProfile& profile)
{
    if (profile.nextText.isEmpty())
        return true;
    return trimSpaces(candidate.innerText().toLower()) == trimSpaces(profile.nextText.toLower());
}

bool isNextPageText(const QString& innerText)
{
    return trimSpaces(innerText.toLower()) == QStringLiteral("下一页>");
}

} // namespace dh
