#include "search/Extraction.h"

#include "app/ServiceAddress.h"

#include "app/Helpers.h"

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
    PageExtraction out;
    if (doc.outerHTMLContains(verificationMarker(), Qt::CaseInsensitive)) {
        out.verificationPage = true;
        return out;
    }
    const ElementCollection containers = doc.getElementsByClassName(QStringLiteral("content-net-left"));
    if (containers.isEmpty())
        return out;
    out.hasContainer = true;
    const ElementCollection headings = containers.first().getElementsByTagName(QStringLiteral("H3"));
    for (const Element& h : headings) {
        const Element a = h.getElementsByTagName(QStringLiteral("A")).first();
        if (a.isNull())
            continue;
        const QString url = trimSpaces(a.href());
        const QString type = fileTypeFromUrl(url);
        const QString title = cleanResultTitle(a.innerText(), type, options.removeSpaces);
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

bool isNextPageText(const QString& innerText)
{
    return trimSpaces(innerText.toLower()) == QStringLiteral("下一页>");
}

} // namespace dh
