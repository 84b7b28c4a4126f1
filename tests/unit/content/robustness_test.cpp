#include "DetectionTestUtil.h"

#include "content/ContentType.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

// Random and truncated inputs: detection and the Content-Type mapping must
// never crash or read out of bounds (run under AddressSanitizer), detection
// must stay within its read limits, and both must be deterministic.
namespace {

using dh::DetectionStats;
using dh::test::bytes;

// Seeds that start like the recognised formats, so that truncation hits the
// boundaries of every test rather than failing at byte 0.
QList<QByteArray> seeds()
{
    QByteArray ole = bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    ole.append(QByteArray(504, '\0'));
    return {
        "%PDF-1.5",
        bytes({0xC8, 0, 0, 0}),
        QByteArray("CAJ\0", 4),
        "KDH ",
        QByteArray("HN\0\0", 4),
        QByteArray("II*\0", 4),
        "{\\rtf1",
        "MZ",
        "Rar!",
        bytes({0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x06, 0x00, 0x08, 0x00}),
        bytes({0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x08, 0x08, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
               0, 0, 5, 0, 0, 0, 'w', 'o', 'r', 'd', '/'}),
        "CWS\x06",
        ".RMF",
        bytes({0x30, 0x26, 0xB2, 0x75, 0x8E}),
        "ID3\x03",
        bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}),
        "GIF89a",
        bytes({0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A}),
        bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'}),
        ole + bytes({0xEC, 0xA5, 0xC1, 0x00}),
        ole + bytes({0x09, 0x08, 0x10, 0x00}),
        ole + bytes({0, 0, 0, 0xF0}),
        [] {  // a compound file header with 512-byte sectors, the rest random
            QByteArray h = bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
            h.append(QByteArray(20, '\0'));
            h.append(bytes({0xFE, 0xFF, 0x09, 0x00}));
            return h;
        }(),
        "<html><head><title>t</title></head><body>",
        "[TARGET]\nA1=\nA2=\nB1=\nB2=\nC1=\nC2=\nD1=\nD2=\nDOCTYPE=\n",
    };
}

QByteArray randomBytes(QRandomGenerator& rng, qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(rng.bounded(256));
    return b;
}

void checkBounds(const DetectionStats& st, qsizetype n)
{
    EXPECT_LE(st.headBytes, std::min<qint64>(n, dh::kHeadBufferMax));
    EXPECT_LE(st.tailBytes, dh::kTailLength);
    EXPECT_LE(st.containerBytes, dh::kContainerReadMax);
    if (n > 3 * 1024) {
        ASSERT_LE(st.bytesRead(), dh::kHeadBufferMax + dh::kTailLength + 1 + dh::kContainerReadMax);
    }
}

TEST(Robustness, TruncatedSignaturesAndRandomTails)
{
    QRandomGenerator rng(20240611);
    int labelled = 0;
    for (const QByteArray& seed : seeds()) {
        // Every prefix of the seed, with and without random bytes after it.
        for (qsizetype cut = 0; cut <= seed.size(); ++cut) {
            for (qsizetype extra : {0, 1, 7, 600, 3100, 11000}) {
                const QByteArray content = seed.left(cut) + randomBytes(rng, extra);
                DetectionStats st;
                const QString label = dh::detectFileTypeOfBytes(content, &st);
                checkBounds(st, content.size());
                EXPECT_EQ(dh::detectFileTypeOfBytes(content), label);
                EXPECT_EQ(label, label.toLower());
                labelled += label.isEmpty() ? 0 : 1;
            }
        }
    }
    EXPECT_GT(labelled, 100);  // the seeds are recognised once long enough
}

TEST(Robustness, RandomBuffersInMemory)
{
    QRandomGenerator rng(7);
    for (int i = 0; i < 20000; ++i) {
        // Mostly short buffers (where the boundaries are), some long ones.
        const qsizetype n = i % 50 == 0 ? rng.bounded(300000) : rng.bounded(700);
        QByteArray content = randomBytes(rng, n);
        // Plant a marker now and then so the text stages get exercised.
        if (n > 40 && i % 3 == 0)
            content.replace(rng.bounded(n - 20), 13, "<html><title>");
        DetectionStats st;
        const QString label = dh::detectFileTypeOfBytes(content, &st);
        checkBounds(st, n);
        static const QStringList known = {"",    "pdf", "caj", "kdh", "nh",  "tif", "rtf", "exe",
                                          "rar", "zip", "docx", "xlsx", "pptx", "swf", "rm",  "wma", "mp3", "png",
                                          "gif", "jpg", "doc", "xls", "ppt", "htm", "caa"};
        ASSERT_TRUE(known.contains(label)) << label.toStdString();
    }
}

TEST(Robustness, RandomFilesOnDisk)
{
    QTemporaryDir dir;
    QRandomGenerator rng(99);
    const QList<QByteArray> s = seeds();
    for (int i = 0; i < 300; ++i) {
        const QByteArray seed = s[i % s.size()];
        const QByteArray content = seed.left(rng.bounded(seed.size() + 1)) + randomBytes(rng, rng.bounded(20000));
        const QString path = dir.filePath(QStringLiteral("r%1").arg(i));
        ASSERT_TRUE(dh::test::writeFile(path, content));
        DetectionStats st;
        const QString fromFile = dh::identifyFileType(path, &st);
        EXPECT_EQ(fromFile, dh::detectFileTypeOfBytes(content));
        checkBounds(st, content.size());
    }
}

TEST(Robustness, ContentTypeMappingOfRandomText)
{
    QRandomGenerator rng(3);
    const QString alphabet = QStringLiteral("/ ;*-.aApPtTxX\t\u00e9\u4e2d\U0001F600");
    for (int i = 0; i < 20000; ++i) {
        QString s;
        const int len = rng.bounded(24);
        for (int k = 0; k < len; ++k) {
            const int pick = rng.bounded(alphabet.size() + 2);
            if (pick < alphabet.size())
                s += alphabet.at(pick);  // may split a surrogate pair: broken input on purpose
            else
                s += QChar(char16_t(rng.bounded(0x10000)));
        }
        const QString out = dh::contentTypeToFileType(s);
        EXPECT_EQ(dh::contentTypeToFileType(s), out);
        if (s.count(QLatin1Char('/')) != 1) {
            ASSERT_EQ(out, s);
        }
        (void)dh::fileTypeFromContentTypeHeader(s, QStringLiteral("pdf"));
    }
}

} // namespace
