#include "content/FileTypeDetection.h"

#include "content/ByteSource.h"
#include "content/OfficeContainers.h"
#include "ports/SystemCodePage.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dh {

namespace {

using detail::ByteSource;
using detail::FileSource;
using detail::MemorySource;

// One signature test: every listed byte must be equal. ole marks the
// compound-document test whose sub-tests decide the label.
struct ByteAt {
    quint16 offset;
    quint8 value;
};
struct Signature {
    const char* label;
    bool ole;
    int count;
    ByteAt bytes[12];
};

// Runs of consecutive bytes are spelled out; order is the decision order.
constexpr Signature kSignatures[] = {
    {"pdf", false, 4, {{0, 0x25}, {1, 0x50}, {2, 0x44}, {3, 0x46}}},
    {"caj", false, 4, {{0, 0xC8}, {1, 0x00}, {2, 0x00}, {3, 0x00}}},
    {"kdh", false, 4, {{0, 0x43}, {1, 0x41}, {2, 0x4A}, {3, 0x00}}},
    {"kdh", false, 4, {{0, 0x4B}, {1, 0x44}, {2, 0x48}, {3, 0x20}}},
    {"nh", false, 4, {{0, 0x48}, {1, 0x4E}, {2, 0x00}, {3, 0x00}}},
    {"tif", false, 4, {{0, 0x49}, {1, 0x49}, {2, 0x2A}, {3, 0x00}}},
    {"rtf", false, 5, {{0, 0x7B}, {1, 0x5C}, {2, 0x72}, {3, 0x74}, {4, 0x66}}},
    {"exe", false, 2, {{0, 0x4D}, {1, 0x5A}}},
    {"rar", false, 4, {{0, 0x52}, {1, 0x61}, {2, 0x72}, {3, 0x21}}},
    {"zip", false, 9,
     {{0, 0x50}, {1, 0x4B}, {2, 0x03}, {3, 0x04}, {4, 0x14}, {5, 0x00}, {6, 0x00}, {7, 0x00}, {8, 0x08}}},
    {"docx", false, 10,
     {{0, 0x50}, {1, 0x4B}, {2, 0x03}, {3, 0x04}, {4, 0x14}, {5, 0x00}, {6, 0x06}, {7, 0x00}, {8, 0x08}, {9, 0x00}}},
    {"swf", false, 4, {{0, 0x43}, {1, 0x57}, {2, 0x53}, {3, 0x06}}},
    {"rm", false, 4, {{0, 0x2E}, {1, 0x52}, {2, 0x4D}, {3, 0x46}}},
    {"wma", false, 5, {{0, 0x30}, {1, 0x26}, {2, 0xB2}, {3, 0x75}, {4, 0x8E}}},
    {"mp3", false, 4, {{0, 0x49}, {1, 0x44}, {2, 0x33}, {3, 0x03}}},
    {"png", false, 8,
     {{0, 0x89}, {1, 0x50}, {2, 0x4E}, {3, 0x47}, {4, 0x0D}, {5, 0x0A}, {6, 0x1A}, {7, 0x0A}}},
    {"gif", false, 6, {{0, 0x47}, {1, 0x49}, {2, 0x46}, {3, 0x38}, {4, 0x39}, {5, 0x61}}},
    {"jpg", false, 12,
     {{0, 0xFF}, {1, 0xD8}, {2, 0xFF}, {3, 0xE1}, {6, 0x45}, {7, 0x78}, {8, 0x69}, {9, 0x66},
      {12, 0x4D}, {13, 0x4D}, {14, 0x00}, {15, 0x2A}}},
    {"jpg", false, 10,
     {{0, 0xFF}, {1, 0xD8}, {2, 0xFF}, {3, 0xE0}, {4, 0x00}, {5, 0x10}, {6, 0x4A}, {7, 0x46}, {8, 0x49}, {9, 0x46}}},
    {nullptr, true, 8,
     {{0, 0xD0}, {1, 0xCF}, {2, 0x11}, {3, 0xE0}, {4, 0xA1}, {5, 0xB1}, {6, 0x1A}, {7, 0xE1}}},
};

constexpr uchar kCompoundMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr qint64 kHeadFromFile = kHeadBufferMax - 1;  // 10,240: beyond it the head is all file bytes
constexpr qint64 kHtmlLimit = 200 * 1024;              // HTML stage only below 200 KB
constexpr qint64 kDescriptorLimit = 3 * 1024;          // "caa" stage only below 3 KB

int maxOffset(const Signature& s)
{
    int m = 0;
    for (int i = 0; i < s.count; ++i)
        m = std::max(m, int(s.bytes[i].offset));
    return m;
}

bool matches(const Signature& s, const uchar* head)
{
    for (int i = 0; i < s.count; ++i) {
        if (head[s.bytes[i].offset] != s.bytes[i].value)
            return false;
    }
    return true;
}

enum class SignatureResult { Label, NoLabel, Stop };

// The signature table over the head buffer. Stop: a test needed a position
// past the end of the buffer, which ends detection with no label.
SignatureResult runSignatures(const uchar* head, qint64 headLen, QString* label)
{
    for (const Signature& s : kSignatures) {
        if (maxOffset(s) >= headLen)
            return SignatureResult::Stop;
        if (!matches(s, head))
            continue;
        if (!s.ole) {
            *label = QString::fromLatin1(s.label);
            return SignatureResult::Label;
        }
        // Compound document: the first bytes of the sector after the 512-byte header.
        if (515 >= headLen)
            return SignatureResult::Stop;
        const uchar* p = head + 512;
        if (p[0] == 0xEC && p[1] == 0xA5 && p[2] == 0xC1 && p[3] == 0x00)
            *label = QStringLiteral("doc");
        else if (p[0] == 0x09 && p[1] == 0x08 && p[2] == 0x10 && p[3] == 0x00)
            *label = QStringLiteral("xls");
        else if (p[3] == 0xF0)
            *label = QStringLiteral("ppt");
        else
            return SignatureResult::NoLabel;
        return SignatureResult::Label;
    }
    return SignatureResult::NoLabel;
}

bool containsAll(const QString& text, std::initializer_list<QLatin1String> needles)
{
    for (const QLatin1String& n : needles) {
        if (!text.contains(n, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

bool looksLikeHtml(const QString& text)
{
    const bool html = text.contains(QLatin1String("<html "), Qt::CaseInsensitive)
        || text.contains(QLatin1String("html>"), Qt::CaseInsensitive);
    if (!html)
        return false;
    return text.contains(QLatin1String("<title>"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("<head>"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("<body>"), Qt::CaseInsensitive);
}

bool looksLikeDescriptor(const QString& text)
{
    return containsAll(text,
                       {QLatin1String("[TARGET]"), QLatin1String("A1="), QLatin1String("A2="), QLatin1String("B1="),
                        QLatin1String("B2="), QLatin1String("C1="), QLatin1String("C2="), QLatin1String("D1="),
                        QLatin1String("D2="), QLatin1String("DOCTYPE=")});
}

// In UTF-8 and GBK an ASCII character of the decoded text always comes from
// the same single byte, so a word that is not in the bytes (ignoring ASCII
// case) is not in the text either. Other code pages get the full decode.
bool asciiStaysAscii()
{
    const QString name = SystemCodePage::name();
    return name == QLatin1String("UTF-8") || name == QLatin1String("GBK");
}

// needle: lower-case ASCII, at most 8 characters. A letter of the needle
// matches either case (OR 0x20 folds exactly the other case onto it); any
// other character matches only itself.
bool containsAsciiNoCase(QByteArrayView hay, const char* needle)
{
    const qsizetype len = qsizetype(std::strlen(needle));
    uchar want[8];
    uchar fold[8];
    for (qsizetype k = 0; k < len; ++k) {
        want[k] = uchar(needle[k]);
        fold[k] = (want[k] >= 'a' && want[k] <= 'z') ? 0x20 : 0;
    }
    if (hay.size() < len)
        return false;
    const auto* h = reinterpret_cast<const uchar*>(hay.data());
    const uchar* end = h + (hay.size() - len + 1);  // last possible start + 1
    // memchr finds the candidates for the first character (both cases) fast.
    const uchar firsts[2] = {want[0], uchar(want[0] & ~fold[0])};
    for (int f = 0; f < (fold[0] ? 2 : 1); ++f) {
        for (const uchar* p = h; p < end;) {
            p = static_cast<const uchar*>(std::memchr(p, firsts[f], size_t(end - p)));
            if (!p)
                break;
            qsizetype k = 1;
            while (k < len && (p[k] | fold[k]) == want[k])
                ++k;
            if (k == len)
                return true;
            ++p;
        }
    }
    return false;
}

QString detect(ByteSource& src, qint64 n, DetectionStats* stats)
{
    // Head buffer: min(N, 10240) + 1 bytes, zero past the end of the file.
    const qint64 headLen = std::min(n, kHeadFromFile) + 1;
    QByteArray head(headLen, '\0');
    const qint64 got = src.readAt(0, head.data(), std::min(n, headLen));
    if (got < 0)
        return {};
    if (stats)
        stats->headBytes += got;

    QString label;
    const auto* h = reinterpret_cast<const uchar*>(head.constData());
    const SignatureResult table = runSignatures(h, headLen, &label);
    if (table == SignatureResult::Stop)
        return {};

    // Any ZIP archive: its entries tell a document from a workbook or a
    // presentation, whatever flags its first entry has. The table's "docx"
    // and "zip" stand when the entries cannot be read. An archive whose
    // entries hold no document part is no "docx", and no web page either
    // when an entry it stores uncompressed holds HTML.
    if (std::memcmp(h, "PK\x03\x04", 4) == 0) {
        const detail::ZipLook look = detail::lookInsideZip(src, n, stats);
        if (!look.officeType.isEmpty())
            return look.officeType;
        if (look.entriesRead)
            return label == QLatin1String("zip") ? label : QString();
        if (!label.isEmpty())
            return label;
    } else if (table == SignatureResult::Label) {
        return label;
    } else if (std::memcmp(h, kCompoundMagic, sizeof kCompoundMagic) == 0) {
        // A compound file whose first sector after the header is not one the
        // table knows (writers put the allocation table there): its directory
        // names the application.
        label = detail::compoundFileType(src, n, h, stats);
        if (!label.isEmpty())
            return label;
    }

    // An ID3 version 1 tag in the last 128 bytes.
    if (n > kTailLength) {
        char tail[kTailLength + 1] = {};
        const qint64 t = src.readAt(n - kTailLength, tail, kTailLength);
        if (t < 0)
            return {};
        if (stats)
            stats->tailBytes += t;
        if (t >= 3 && std::memcmp(tail, "TAG", 3) == 0)
            return QStringLiteral("mp3");
    }

    if (n >= kHtmlLimit)
        return {};
    // Only the head buffer is searched, whatever the size. For a file below
    // 3 KB the head buffer already is the whole file plus one zero byte, so it
    // doubles as the whole buffer and the file is not read a second time.
    // Decoding 10 KB of text for every download is the costly part, and most
    // heads cannot hold the words at all: skip it when the raw bytes lack them.
    const bool descriptorStage = n < kDescriptorLimit;
    if (asciiStaysAscii()) {
        const QByteArrayView bytes(head);
        if (!containsAsciiNoCase(bytes, "html") && (!descriptorStage || !containsAsciiNoCase(bytes, "[target]")))
            return {};
    }
    const QString text = SystemCodePage::decode(head);
    if (looksLikeHtml(text))
        return QStringLiteral("htm");
    if (descriptorStage && looksLikeDescriptor(text))
        return QStringLiteral("caa");
    return {};
}

} // namespace

QString identifyFileType(const QString& path, DetectionStats* stats)
{
    if (path.isEmpty())
        return {};
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    // Only regular files: a folder gives nothing, and a pipe or device would
    // block or never end.
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    if (stats)
        ++stats->opens;
    const QString label = identifyOpenFile(fd, stats);
    ::close(fd);
    return label;
}

QString identifyOpenFile(int fd, DetectionStats* stats)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (stats)
        stats->fileSize = st.st_size;
    FileSource src(fd);
    return detect(src, st.st_size, stats);
}

QString detectFileTypeOfBytes(QByteArrayView content, DetectionStats* stats)
{
    if (stats)
        stats->fileSize = content.size();
    MemorySource src(content);
    return detect(src, content.size(), stats);
}

} // namespace dh
