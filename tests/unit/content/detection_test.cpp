#include "DetectionTestUtil.h"

#include "ports/SystemCodePage.h"

#include <QDir>
#include <QTemporaryDir>
#include <sys/stat.h>

using dh::DetectionStats;
using dh::test::bytes;
using dh::test::padTo;

namespace {

struct Case {
    const char* what;
    QByteArray content;
    const char* expected;
};

QByteArray ole(QByteArray sector)
{
    QByteArray b = padTo(bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}), 512, '\0');
    b += sector;
    return b;
}

QByteArray zip(int flags, int method)
{
    return bytes({0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, flags, 0x00, method, 0x00});
}

const QByteArray kDescriptor = "[TARGET]\r\nA1=1\r\nA2=2\r\nB1=3\r\nB2=4\r\nC1=5\r\nC2=6\r\nD1=7\r\nD2=8\r\nDOCTYPE=caj\r\n";

TEST(Detection, SignatureTable)
{
    dh::test::Detector detect;
    const Case cases[] = {
        {"pdf", padTo("%PDF-1.4\n", 5000), "pdf"},
        {"caj", padTo(bytes({0xC8, 0, 0, 0}), 5000), "caj"},
        {"CAJ+0 is kdh", padTo(QByteArray("CAJ\0", 4), 5000), "kdh"},
        {"kdh", padTo("KDH ", 5000), "kdh"},
        {"nh", padTo(QByteArray("HN\0\0", 4), 5000), "nh"},
        {"tif little-endian", padTo(QByteArray("II*\0", 4), 5000), "tif"},
        {"rtf", padTo("{\\rtf1\\ansi", 5000), "rtf"},
        {"exe", padTo("MZ\x90", 5000), "exe"},
        {"rar", padTo("Rar!\x1a\x07", 5000), "rar"},
        {"zip deflated", padTo(zip(0, 8), 5000), "zip"},
        {"docx flags 6", padTo(zip(6, 8), 5000), "docx"},
        {"swf compressed", padTo("CWS\x06", 5000), "swf"},
        {"rm", padTo(".RMF", 5000), "rm"},
        {"wma", padTo(bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11}), 5000), "wma"},
        {"mp3 id3v2.3", padTo("ID3\x03", 5000), "mp3"},
        {"png", padTo(bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), 5000), "png"},
        {"gif89a", padTo("GIF89a", 5000), "gif"},
        {"jpeg exif MM",
         padTo(bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x12, 0x34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A}), 5000), "jpg"},
        {"jpeg jfif", padTo(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0}), 5000), "jpg"},
        {"ole doc", padTo(ole(bytes({0xEC, 0xA5, 0xC1, 0x00})), 5000, '\0'), "doc"},
        {"ole xls", padTo(ole(bytes({0x09, 0x08, 0x10, 0x00})), 5000, '\0'), "xls"},
        {"ole ppt", padTo(ole(bytes({0xA0, 0x0F, 0x11, 0xF0})), 5000, '\0'), "ppt"},
        {"ole doc bytes but F0 last is ppt", padTo(ole(bytes({0xEC, 0xA5, 0xC1, 0xF0})), 5000, '\0'), "ppt"},
        // Variants outside the table.
        {"pdf behind a space", padTo(" %PDF-1.4", 5000), ""},
        {"zip stored", padTo(zip(0, 0), 5000), ""},
        {"zip flags 8", padTo(zip(8, 8), 5000), ""},
        {"swf uncompressed", padTo("FWS\x06", 5000), ""},
        {"tif big-endian", padTo(QByteArray("MM\0*", 4), 5000), ""},
        {"id3 v4", padTo("ID3\x04", 5000), ""},
        {"gif87a", padTo("GIF87a", 5000), ""},
        {"jpeg exif II",
         padTo(bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x12, 0x34, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0}), 5000), ""},
        {"jfif length 17", padTo(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x11, 'J', 'F', 'I', 'F', 0}), 5000), ""},
        {"ole other", padTo(ole(bytes({0x01, 0x02, 0x03, 0x04})), 5000, '\0'), ""},
        {"plain text", padTo("hello world", 5000), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(detect(c.content), QString::fromLatin1(c.expected)) << c.what;
        // A signature decides without the tail or text stages.
        if (*c.expected) {
            EXPECT_EQ(detect.last.tailBytes, 0) << c.what;
        }
    }
}

TEST(Detection, ShortFilesStopWhereATestRunsPastTheHeadBuffer)
{
    dh::test::Detector detect;
    const QByteArray html12 = "<html><body>";
    const Case cases[] = {
        {"empty", QByteArray(), ""},
        {"2-byte MZ: order 1 needs offset 3", "MZ", ""},
        {"3-byte abc: order 7 needs offset 4", "abc", ""},
        {"3-byte CAJ + the zero after the file", "CAJ", "kdh"},
        {"3-byte C8 00 00 + the zero", bytes({0xC8, 0, 0}), "caj"},
        {"3-byte HN0 + the zero", QByteArray("HN\0", 3), "nh"},
        {"4-byte %PDF", "%PDF", "pdf"},
        {"4-byte {\\rt: order 7 needs offset 4", "{\\rt", ""},
        {"5-byte {\\rtf", "{\\rtf", "rtf"},
        {"10-byte MZ", padTo("MZ", 10), "exe"},
        {"12-byte html stops at order 18", html12, ""},
        {"14-byte html still too short", html12 + "  ", ""},
        {"15-byte html passes every test", html12 + "   ", "htm"},
        {"20-byte html", html12 + "        ", "htm"},
        {"ole of 514 bytes stops at 20a", padTo(ole({}), 514, '\0'), ""},
        {"ole of 515 bytes: byte 515 is the zero after the file",
         padTo(ole(bytes({0xEC, 0xA5, 0xC1})), 515, '\0'), "doc"},
        {"ole of 600 bytes with no sub-type", padTo(ole(bytes({1, 2, 3, 4})), 600, '\0'), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detect(c.content), QString::fromLatin1(c.expected)) << c.what;

    // A short compound document stops before the HTML stage even with markers.
    QByteArray shortOle = ole("<html><title>");
    shortOle.truncate(514);
    shortOle.replace(100, 13, "<html><title>");
    EXPECT_EQ(detect(shortOle), QString());
    // A full-length one with an unknown sector goes on to the later stages.
    EXPECT_EQ(detect(padTo(ole(bytes({1, 2, 3, 4})) + "<html><title>x</title>", 4000, ' ')), QStringLiteral("htm"));
}

TEST(Detection, Id3v1TailNeedsMoreThan128Bytes)
{
    dh::test::Detector detect;
    QByteArray trailer = padTo("TAGsong title", 128, ' ');
    EXPECT_EQ(detect(padTo(bytes({0xFF, 0xFB, 0x90, 0x64}), 4000, 'a') + trailer), QStringLiteral("mp3"));
    EXPECT_EQ(detect.last.tailBytes, 128);
    EXPECT_EQ(detect(padTo(bytes({0xFF, 0xFB}), 1, 'a') + trailer), QStringLiteral("mp3"));  // 129 bytes
    EXPECT_EQ(detect(trailer), QString());                                                     // exactly 128
    EXPECT_EQ(detect.last.tailBytes, 0);
    EXPECT_EQ(detect(trailer.left(100)), QString());  // 100 bytes ending in a trailer
    // "TAG" must start the last 128 bytes exactly.
    EXPECT_EQ(detect(padTo("abc", 4000, 'a') + "x" + trailer.left(127)), QString());
}

TEST(Detection, HtmlStage)
{
    dh::test::Detector detect;
    const QByteArray page = "<HTML><HEAD><TITLE>x</TITLE></HEAD><BODY>";
    EXPECT_EQ(detect(padTo(page, 40 * 1024, ' ')), QStringLiteral("htm"));
    EXPECT_EQ(detect(padTo(page, 250 * 1024, ' ')), QString());
    EXPECT_EQ(detect(padTo(page, 200 * 1024 - 1, ' ')), QStringLiteral("htm"));
    EXPECT_EQ(detect(padTo(page, 200 * 1024, ' ')), QString());
    // Markers only after the first 10 KB.
    EXPECT_EQ(detect(padTo(QByteArray(11 * 1024, ' ') + page, 40 * 1024, ' ')), QString());
    // The head buffer holds bytes 0..10240: a marker ending at 10240 counts, at 10241 not.
    const QByteArray tail = "<title>html>";
    EXPECT_EQ(detect(padTo(QByteArray(10241 - tail.size(), ' ') + tail, 30000, ' ')), QStringLiteral("htm"));
    EXPECT_EQ(detect(padTo(QByteArray(10242 - tail.size(), ' ') + tail, 30000, ' ')), QString());

    const Case cases[] = {
        {"lower case, <html with space", padTo("<html lang=\"zh\"><body>", 3000, ' '), "htm"},
        {"html> inside </html>", padTo("<head></head></html>", 3000, ' '), "htm"},
        {"<html followed by a tab is no marker", padTo("<html\tlang='x'><body>", 3000, ' '), ""},
        {"html marker without title/head/body", padTo("<html><p>hi</p>", 3000, ' '), ""},
        {"title without html marker", padTo("<title>x</title><body>", 3000, ' '), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detect(c.content), QString::fromLatin1(c.expected)) << c.what;
}

TEST(Detection, HtmlSearchDecodesTheSystemCodePage)
{
    dh::test::Detector detect;
    // In GBK, 0x81 takes the following "h" as its second byte, hiding the marker.
    const QByteArray content = padTo("\x81html><title>", 2000, ' ');
    dh::SystemCodePage::setName(QStringLiteral("UTF-8"));
    EXPECT_EQ(detect(content), QStringLiteral("htm"));
    dh::SystemCodePage::setName(QStringLiteral("GBK"));
    EXPECT_EQ(detect(content), QString());
    const QByteArray gbkPage = QByteArray("<html><title>") + "\xB1\xA8\xB8\xE6" + "</title>";  // 报告
    EXPECT_EQ(detect(padTo(gbkPage, 2000, ' ')), QStringLiteral("htm"));
    dh::SystemCodePage::setName(QString());
}

// The words are first looked for in the raw bytes (ASCII case folded); the
// answer must stay the one the decoded text gives, in every code page.
TEST(Detection, ByteCheckBeforeDecodingKeepsTheAnswer)
{
    dh::test::Detector detect;
    QByteArray braces = kDescriptor;
    braces.replace("[TARGET]", "{TARGET}");  // '{' is '[' with the case bit set
    const struct {
        QByteArray content;
        const char* expected;
    } rows[] = {
        {padTo("<HtMl ><BoDy>", 2000, ' '), "htm"},
        {padTo(QByteArray("<hTmL\x00><title>", 14), 2000, ' '), ""},
        {padTo("<htm1><title>", 2000, ' '), ""},
        {padTo(QByteArray("\xA3\xC8\xA3\xD4\xA3\xCD\xA3\xCC><title>"), 2000, ' '), ""},  // full-width letters in GBK
        {padTo(braces, 1024, ' '), ""},
        {padTo(kDescriptor, 1024, ' '), "caa"},
    };
    for (const char* page : {"UTF-8", "GBK", "Shift_JIS"}) {
        dh::SystemCodePage::setName(QString::fromLatin1(page));
        for (const auto& row : rows)
            EXPECT_EQ(detect(row.content), QString::fromLatin1(row.expected)) << page << " " << row.content.left(16).toHex().constData();
    }
    dh::SystemCodePage::setName(QString());
}

TEST(Detection, DescriptorStage)
{
    dh::test::Detector detect;
    EXPECT_EQ(detect(padTo(kDescriptor, 1024, ' ')), QStringLiteral("caa"));
    EXPECT_EQ(detect(padTo(kDescriptor.toLower(), 1024, ' ')), QStringLiteral("caa"));
    EXPECT_EQ(detect(padTo(kDescriptor, 3071, ' ')), QStringLiteral("caa"));
    EXPECT_EQ(detect(padTo(kDescriptor, 3072, ' ')), QString());
    EXPECT_EQ(detect(padTo(kDescriptor, 4096, ' ')), QString());
    // Any order; every marker needed.
    QByteArray shuffled = "DOCTYPE=1 D2=1 D1=1 C2=1 C1=1 B2=1 B1=1 A2=1 A1=1 [target]";
    EXPECT_EQ(detect(padTo(shuffled, 500, ' ')), QStringLiteral("caa"));
    for (const char* marker : {"[TARGET]", "A1=", "D2=", "DOCTYPE="}) {
        QByteArray missing = kDescriptor;
        missing.replace(marker, "#");
        EXPECT_EQ(detect(padTo(missing, 1024, ' ')), QString()) << marker;
    }
    // An HTML page holding the markers is a page.
    EXPECT_EQ(detect(padTo("<html><body>" + kDescriptor, 1024, ' ')), QStringLiteral("htm"));
}

TEST(Detection, ReadsStayWithinTheirBounds)
{
    QTemporaryDir dir;
    const qint64 sizes[] = {0,    1,     3,     127,   128,    129,        3071,           3072,
                            3073, 10239, 10240, 10241, 10242,  200 * 1024, 5 * 1024 * 1024, 64 * 1024 * 1024};
    for (qint64 n : sizes) {
        const QString path = dir.filePath(QStringLiteral("s%1").arg(n));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(int(std::min<qint64>(n, 16)), 'q'));
        ASSERT_TRUE(f.resize(n));  // sparse beyond the first bytes
        f.close();
        DetectionStats st;
        EXPECT_EQ(dh::identifyFileType(path, &st), QString()) << n;
        EXPECT_EQ(st.opens, 1);
        EXPECT_EQ(st.headBytes, std::min<qint64>(n, 10241)) << n;
        EXPECT_EQ(st.tailBytes, n > 128 ? 128 : 0) << n;
        if (n > 3 * 1024) {
            EXPECT_LE(st.bytesRead(), 10241 + 129) << n;
        }
    }
}

TEST(Detection, NothingToReadGivesEmpty)
{
    QTemporaryDir dir;
    DetectionStats st;
    EXPECT_EQ(dh::identifyFileType(dir.filePath(QStringLiteral("missing.pdf")), &st), QString());
    EXPECT_EQ(st.opens, 0);
    EXPECT_EQ(dh::identifyFileType(QString(), &st), QString());
    EXPECT_EQ(dh::identifyFileType(dir.path(), &st), QString());  // a folder
    EXPECT_EQ(st.opens, 0);
    // A named pipe would block a plain open and read; it is not a file.
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(dh::identifyFileType(fifo, &st), QString());
    EXPECT_EQ(st.opens, 0);
    // Names with spaces and non-ASCII characters.
    const QString odd = dir.filePath(QStringLiteral("报告 (1).pdf"));
    ASSERT_TRUE(dh::test::writeFile(odd, "%PDF-1.7"));
    EXPECT_EQ(dh::identifyFileType(odd), QStringLiteral("pdf"));
}

} // namespace
