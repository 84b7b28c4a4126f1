#pragma once
// What the search window reads from a result page, as plain data, so tests
// can compare browsers and check the document model against the demo's
// known content.
#include "html/Document.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace dh::test {

struct ExtractedLink {
    QString text;  // innerText of the heading's first link
    QString href;  // its absolute address
    bool operator==(const ExtractedLink& o) const { return text == o.text && href == o.href; }
};

struct PageExtraction {
    QString url;
    bool verification = false;
    QList<ExtractedLink> links;   // first "content-net-left", each H3's first A
    QStringList pagerTexts;       // innerText of every element of class "next"
    QStringList pagerHrefs;
    bool operator==(const PageExtraction& o) const
    {
        return url == o.url && verification == o.verification && links == o.links
               && pagerTexts == o.pagerTexts && pagerHrefs == o.pagerHrefs;
    }
};

inline PageExtraction extract(const Document& doc)
{
    PageExtraction r;
    r.url = doc.URL();
    r.verification = doc.outerHTML().contains(QStringLiteral("请输入以下验证码，即可恢复使用。"));
    const Element box = doc.getElementsByClassName(QStringLiteral("content-net-left")).item(0);
    for (const Element& h3 : box.getElementsByTagName(QStringLiteral("H3"))) {
        const Element a = h3.getElementsByTagName(QStringLiteral("A")).item(0);
        if (a.isNull())
            continue;
        r.links.push_back({a.innerText().trimmed(), a.href().trimmed()});
    }
    for (const Element& n : doc.getElementsByClassName(QStringLiteral("next"))) {
        r.pagerTexts << n.innerText().trimmed();
        r.pagerHrefs << n.href();
    }
    return r;
}

inline Element findNextPageLink(const Document& doc)
{
    for (const Element& n : doc.getElementsByClassName(QStringLiteral("next")))
        if (n.innerText().trimmed().toLower() == QStringLiteral("下一页>"))
            return n;
    return {};
}

} // namespace dh::test
