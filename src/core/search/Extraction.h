#pragma once
#include "platform/Document.h"

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

// Reads one result page: the verification marker, then every heading of the
// first result container with its first link, cleaned and filtered.
PageExtraction extractResultLinks(const Document& doc, const ExtractOptions& options);

// Whether a pager link's text is the next-page text "下一页>" (lower-cased,
// trimmed).
bool isNextPageText(const QString& innerText);

} // namespace dh
