#pragma once
#include "html/Document.h"
#include "search/ServiceProfile.h"

#include <QList>
#include <QString>

namespace dh {

// Options of the search window that the extraction reads.
struct ExtractOptions {
    bool removeSpaces = true;     // "删除标题中的空格"
    bool dropUnknownType = true;  // "不添加文件类型不明的链接"
    // Domain of the document-sharing site whose "<domain>豆丁网" title suffix
    // excludes a link (setting "设置"/"排除标题后缀域名").
    QString excludedDomain;
    // The type of the running query: the type of results whose address names
    // none, for profiles that take types from the query.
    QString queryType;
};

struct ExtractedLink {
    QString title;
    QString url;
    QString type;
};

struct PageExtraction {
    bool verificationPage = false;  // the service asked for a verification code
    bool hasContainer = false;      // the result container was found
    QList<ExtractedLink> links;     // accepted links in document order (duplicates kept)
};

// The text the search service shows instead of results when it wants a code.
QString verificationMarker();

// The type a link points at from its last four characters: ".PDF" -> "pdf",
// ".DOC", ".XLS", ".PPT", ".TXT" likewise (any case); anything else "".
QString fileTypeFromUrl(const QString& url);

// A result title cleaned: trimmed, every "..." removed, spaces removed when
// removeSpaces, then a leading "【type】" (any case) cut off when type is set.
QString cleanResultTitle(const QString& text, const QString& type, bool removeSpaces);

// Whether a title ends with one of the suffixes that exclude its link.
bool isExcludedTitle(const QString& title, const QString& excludedDomain);

// Reads one result page through a profile: a verification text ends it;
// otherwise every item (inside the first container when the profile names
// one) gives its link and title, cleaned and filtered. Without a container,
// a page is a result page when an item matched.
PageExtraction extractResultLinks(const Document& doc, const ExtractOptions& options,
                                  const ServiceProfile& profile);
// The same through the default profile.
PageExtraction extractResultLinks(const Document& doc, const ExtractOptions& options);

// The elements that may be the next-page link, in document order: the
// profile's next selector (every link when it has none).
ElementCollection nextPageCandidates(const Document& doc, const ServiceProfile& profile);
// Whether a candidate is the next-page link: its rendered text, lower-cased
// and trimmed, is the profile's next text; any candidate when it has none.
bool isNextPageLink(const Element& candidate, const ServiceProfile& profile);

// Whether a pager link's text is the next-page text "下一页>" (lower-cased,
// trimmed).
bool isNextPageText(const QString& innerText);

} // namespace dh
