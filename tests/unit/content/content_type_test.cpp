#include "content/ContentType.h"

#include <gtest/gtest.h>

using dh::contentTypeToFileType;
using dh::fileTypeFromContentTypeHeader;

namespace {

struct Case {
    const char* input;
    const char* expected;
};

// Every row of the table, once as written.
const Case kTable[] = {
    {"application/octet-stream", ""},
    {"application/x-shockwave-flash", "swf"},
    {"application/x-javascript", "js"},
    {"application/vnd.rn-realmedia", "vnd.rn-realmedia"},
    {"application/vnd.ms-wpl", "wpl"},
    {"application/kdh", "kdh"},
    {"application/caj", "caj"},
    {"application/pdf", "pdf"},
    {"application/caa", "caa"},
    {"application/nh", "nh"},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
    {"Application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx"},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", "pptx"},
    {"text/html", "html"},
    {"text/txt", "txt"},
    {"text/htm", "htm"},
    {"text/xml", "xml"},
    {"text/css", "css"},
    {"text/plain", "txt"},
    {"image/jpg", "jpg"},
    {"image/jpeg", "jpeg"},
    {"image/gif", "gif"},
    {"image/png", "png"},
    {"image/bmp", "bmp"},
    {"image/tif", "tif"},
    {"image/pjpeg", "pjpeg"},
    {"image/g3fax", "g3fax"},
    {"image/ief", "ief"},
    {"image/tiff", "tif"},
    {"image/x-png", "png"},
    {"image/x-ms-bmp", "bmp"},
    {"image/x-icon", "ico"},
    {"video/mpeg", "mpeg"},
    {"video/quicktime", "quicktime"},
    {"video/mpeg4", "mp4"},
    {"video/x-msvideo", "avi"},
    {"video/x-ms-asf", "asf"},
    {"audio/amr", "amr"},
    {"audio/x-mpegurl", "x-mpegurl"},
    {"audio/x-ms-wma", "wma"},
    {"audio/x-wav", "wav"},
    {"audio/x-pn-realaudio", "ram"},
    {"audio/midi", "mid"},
};

TEST(ContentTypeToFileType, WholeTable)
{
    for (const Case& c : kTable)
        EXPECT_EQ(contentTypeToFileType(QString::fromUtf8(c.input)), QString::fromUtf8(c.expected)) << c.input;
}

TEST(ContentTypeToFileType, NormalisesCaseAndSpaces)
{
    const Case cases[] = {
        {"Application/PDF", "pdf"},
        {"  application  /  pdf  ", "pdf"},
        {"AUDIO/x- ms-wma", "wma"},            // spaces inside the subtype are dropped
        {"video / X-MS-ASF", "asf"},
        {"TEXT/HTML", "html"},                 // the label is the normalised subtype
        {"Application/Vnd.RN-RealMedia", "vnd.rn-realmedia"},
        {"image/*", "image"},
        {"image/", "image"},
        {"text/", "text"},
        {" Video / * ", "video"},
        {"AUDIO/   ", "audio"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(contentTypeToFileType(QString::fromUtf8(c.input)), QString::fromUtf8(c.expected)) << c.input;
}

TEST(ContentTypeToFileType, UnknownInputsComeBackExactly)
{
    const char* unchanged[] = {
        "application/msword", "Application/MSWord", "text/html/x", "pdf", "", "model/vrml", " Model / VRML ",
        "image/svg+xml",      "/",                   "//",         "x-type/pdf", "video/ mp 4",
    };
    for (const char* in : unchanged)
        EXPECT_EQ(contentTypeToFileType(QString::fromUtf8(in)), QString::fromUtf8(in)) << in;
}

TEST(ContentTypeToFileType, OnlyU0020IsTrimmed)
{
    // A tab is not trimmed, so the type is not recognised and the input returns.
    EXPECT_EQ(contentTypeToFileType(QStringLiteral("\tapplication/pdf")), QStringLiteral("\tapplication/pdf"));
    EXPECT_EQ(contentTypeToFileType(QStringLiteral("application/pdf\t")), QStringLiteral("application/pdf\t"));
}

TEST(FileTypeFromContentTypeHeader, KeepsCurrentTypeUnlessTheHeaderNamesOne)
{
    struct H {
        const char* header;
        const char* current;
        const char* expected;
    } cases[] = {
        {"application/pdf", "doc", "pdf"},
        {" text/html; charset=gbk ", "pdf", "html"},
        {"text/html;", "pdf", "html"},
        {"application/octet-stream", "pdf", "pdf"},
        {"application/msword", "doc", "doc"},
        {"", "pdf", "pdf"},
        {"image/jpeg;q=1;x=2", "", "jpeg"},
        {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet; charset=binary", "doc", "xlsx"},
    };
    for (const H& c : cases)
        EXPECT_EQ(fileTypeFromContentTypeHeader(QString::fromUtf8(c.header), QString::fromUtf8(c.current)),
                  QString::fromUtf8(c.expected))
            << c.header;
}

} // namespace
