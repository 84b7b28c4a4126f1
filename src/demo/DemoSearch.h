#pragma once
// The demo search service's content as data, so that tests can compute what
// a result page holds without parsing it. The routes in DemoSearch.cpp
// render exactly these results.

#include "demo/DemoService.h"

#include <QList>
#include <QString>

#include <string>

namespace dh::demo {

// A parsed "/p?w=..." request.
struct SearchQuery {
    bool home = true;      // "/p?w=1" or no w at all: the search home page
    QString keywords;      // decoded and trimmed, without surrounding quotes
    bool quoted = false;   // the keywords came as "%22...%22"
    QString type;          // "pdf", "doc", "ppt", "xls", ... or empty (mixed types)
    int page = 1;          // 1-based, from "&pn=N"
    std::string rawW;      // the w value exactly as received, reused in pager links
};

// Parses the raw query text (everything after '?'). Keywords may contain
// spaces; '+' in the raw text is a space, "%2B" a plus sign.
SearchQuery parseSearchQuery(const std::string& rawQuery);

// The raw w value that the program composes for keywords and a type:
// percent-encoded UTF-8, "%22" quotes when quoted, "+filetype%3A" + type.
std::string composeW(const QString& keywords, const QString& type, bool quoted = false);

// Number of result pages of a query (3 to 6 unless options fix it).
int pageCount(const SearchQuery& query, const DemoOptions& options);

// What each of the ten slots of a result page holds (slot = index % 10).
// The title rules they exercise are those of the search window's extraction.
enum class ResultSlot {
    Plain = 0,        // absolute link, spaces in the title
    TypePrefix = 1,   // "【PDF】" prefix, relative link
    Ellipsis = 2,     // "..." and an entity in the title, chunked document
    BaiduSuffix = 3,  // title ends in "_百度文库": excluded
    Markup = 4,       // <em> inside the link, a second link in the heading, charset variant
    UnknownType = 5,  // link ending in ".html" or "?id=...": no type
    SiteSuffix = 6,   // "-道客巴巴" / "-豆丁网" / "-百度文库" suffix: excluded
    ProtectedOrDuplicate = 7,  // page 1: protected document; later pages: page 1's first link again
    UpperCaseExt = 8, // ".PDF" / ".Pdf" ending, title ends in "-百度文库网" (kept)
    DotsOrSpaces = 9, // page 1: title "......" (empty after cleaning); later: extra spaces, wrong Content-Type
};

struct DemoResult {
    ResultSlot slot = ResultSlot::Plain;
    QString headingHtml;  // inner HTML of the <h3>
    QString titleText;    // the first link's rendered text, trimmed, white space collapsed
    QString href;         // the first link's href attribute as written (absolute or relative)
    QString absoluteUrl;  // href resolved against the base
    QString linkType;     // the document type the link points at ("pdf", ... or the served type)
};

// The results of one page; empty past the last page. base is "http://host:port".
QList<DemoResult> resultsFor(const SearchQuery& query, const QString& base, const DemoOptions& options);

// The verification marker that the extraction looks for.
inline QString verificationMarker() { return QStringLiteral("请输入以下验证码，即可恢复使用。"); }

} // namespace dh::demo
