#include "content/ContentType.h"

#include "app/Helpers.h"

namespace dh {

namespace {

struct Row {
    const char* subtype;
    const char* label;  // nullptr: the subtype itself
};

// The rows of one recognised top-level type, in lookup order.
struct TypeTable {
    const char* type;
    const Row* rows;
    int count;
};

constexpr Row kApplication[] = {
    {"octet-stream", ""},
    {"x-shockwave-flash", "swf"},
    {"x-javascript", "js"},
    {"vnd.rn-realmedia", nullptr},
    {"vnd.ms-wpl", "wpl"},
    {"kdh", "kdh"},
    {"caj", "caj"},
    {"pdf", "pdf"},
    {"caa", "caa"},
    {"nh", "nh"},
    // Office Open XML, so that a workbook or a presentation keeps its own extension.
    {"vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
    {"vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx"},
    {"vnd.openxmlformats-officedocument.presentationml.presentation", "pptx"},
};
constexpr Row kText[] = {
    {"html", nullptr}, {"txt", nullptr}, {"htm", nullptr}, {"xml", nullptr}, {"css", nullptr}, {"plain", "txt"},
};
constexpr Row kImage[] = {
    {"jpg", nullptr},  {"jpeg", nullptr}, {"gif", nullptr},   {"png", nullptr},      {"bmp", nullptr},
    {"tif", nullptr},  {"pjpeg", nullptr}, {"g3fax", nullptr}, {"ief", nullptr},      {"tiff", "tif"},
    {"x-png", "png"},  {"x-ms-bmp", "bmp"}, {"x-icon", "ico"},
};
constexpr Row kVideo[] = {
    {"mpeg", nullptr}, {"quicktime", nullptr}, {"mpeg4", "mp4"}, {"x-msvideo", "avi"}, {"x-ms-asf", "asf"},
};
constexpr Row kAudio[] = {
    {"amr", nullptr},      {"x-mpegurl", nullptr},    {"x-ms-wma", "wma"},
    {"x-wav", "wav"},      {"x-pn-realaudio", "ram"}, {"midi", "mid"},
};

template <int N>
constexpr TypeTable table(const char* type, const Row (&rows)[N])
{
    return {type, rows, N};
}

const TypeTable kTypes[] = {
    table("application", kApplication), table("text", kText), table("image", kImage),
    table("video", kVideo),              table("audio", kAudio),
};

} // namespace

QString contentTypeToFileType(const QString& contentType)
{
    // Exactly one "/" or the input goes back untouched (this covers the empty text).
    const qsizetype slash = contentType.indexOf(QLatin1Char('/'));
    if (slash < 0 || contentType.indexOf(QLatin1Char('/'), slash + 1) >= 0)
        return contentType;

    const QString type = trimSpaces(contentType.left(slash)).toLower();
    QString subtype = trimSpaces(contentType.mid(slash + 1));
    subtype.remove(QLatin1Char(' '));
    subtype = subtype.toLower();

    for (const TypeTable& t : kTypes) {
        if (type != QLatin1String(t.type))
            continue;
        for (int i = 0; i < t.count; ++i) {
            const Row& r = t.rows[i];
            if (subtype == QLatin1String(r.subtype))
                return r.label ? QString::fromLatin1(r.label) : subtype;
        }
        if (subtype.isEmpty() || subtype == QLatin1String("*"))
            return type;
        return contentType;
    }
    return contentType;
}

QString fileTypeFromContentTypeHeader(const QString& headerValue, const QString& currentType)
{
    QString v = trimSpaces(headerValue);
    const qsizetype semi = v.indexOf(QLatin1Char(';'));
    if (semi >= 0)
        v = trimSpaces(v.left(semi));
    const QString label = contentTypeToFileType(v);
    if (label.isEmpty() || label.contains(QLatin1Char('/')))
        return currentType;
    return label;
}

} // namespace dh
