#include "DetectionTestUtil.h"

#include <QTemporaryDir>

// Office documents told apart by what their container holds: the entries of
// a ZIP archive, the root streams of a compound file. Every file here is
// built byte by byte so that each structural fault can be placed exactly.
namespace {

using dh::DetectionStats;
using dh::test::padTo;

void put16(QByteArray& b, qsizetype at, quint32 v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}

void put32(QByteArray& b, qsizetype at, quint32 v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

QByteArray le16(quint32 v)
{
    QByteArray b(2, '\0');
    put16(b, 0, v);
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    put32(b, 0, v);
    return b;
}

// --- ZIP ---------------------------------------------------------------------

struct Entry {
    QByteArray name;
    QByteArray data = "x";
};

struct Zip {
    quint16 flags = 0x0808;  // data descriptor and UTF-8 names, as LibreOffice writes them
    quint16 method = 8;
    bool centralDirectory = true;
    qint64 cdOffsetDelta = 0;  // added to the recorded directory offset
    qint64 cdSizeDelta = 0;    // added to the recorded directory size
};

QByteArray zip(const QList<Entry>& entries, const Zip& z = {})
{
    QByteArray out, central;
    for (const Entry& e : entries) {
        const bool descriptor = z.flags & 0x08;
        const quint32 offset = quint32(out.size());
        out += "PK\x03\x04" + le16(0x14) + le16(z.flags) + le16(z.method) + le32(0) + le32(0)
            + le32(descriptor ? 0 : quint32(e.data.size())) + le32(descriptor ? 0 : quint32(e.data.size()))
            + le16(quint32(e.name.size())) + le16(0) + e.name + e.data;
        if (descriptor)
            out += "PK\x07\x08" + le32(0) + le32(quint32(e.data.size())) + le32(quint32(e.data.size()));
        central += "PK\x01\x02" + le16(0x314) + le16(0x14) + le16(z.flags) + le16(z.method) + le32(0) + le32(0)
            + le32(quint32(e.data.size())) + le32(quint32(e.data.size())) + le16(quint32(e.name.size())) + le16(0)
            + le16(0) + le16(0) + le16(0) + le32(0) + le32(offset) + e.name;
    }
    if (!z.centralDirectory)
        return out;
    const quint32 cdOffset = quint32(out.size());
    out += central;
    out += "PK\x05\x06" + le16(0) + le16(0) + le16(quint32(entries.size())) + le16(quint32(entries.size()))
        + le32(quint32(central.size() + z.cdSizeDelta)) + le32(quint32(cdOffset + z.cdOffsetDelta)) + le16(0);
    return out;
}

const QList<Entry> kWord = {{"_rels/.rels"}, {"docProps/core.xml"}, {"word/document.xml"}, {"[Content_Types].xml"}};
const QList<Entry> kSheet = {{"[Content_Types].xml"}, {"_rels/.rels"}, {"xl/workbook.xml"}};
const QList<Entry> kSlides = {{"_rels/.rels"}, {"ppt/presentation.xml"}};
const QList<Entry> kPlain = {{"notes.txt"}, {"pictures/a.png"}};

struct ZipCase {
    const char* what;
    QByteArray content;
    const char* expected;
};

TEST(OfficeContainers, ZipEntriesNameTheDocument)
{
    const QByteArray big(70 * 1024, 'z');  // pushes what follows out of the first 64 KB
    Zip flags6;
    flags6.flags = 6;
    Zip flags0;
    flags0.flags = 0;
    Zip stored = flags0;
    stored.method = 0;
    Zip flags0NoDirectory = flags0;
    flags0NoDirectory.centralDirectory = false;
    Zip noDirectory;
    noDirectory.centralDirectory = false;
    Zip offsetPastEnd;
    offsetPastEnd.cdOffsetDelta = 1 << 30;
    Zip offsetWrong;
    offsetWrong.cdOffsetDelta = -7;
    Zip sizeAndOffsetWrong;
    sizeAndOffsetWrong.cdOffsetDelta = 5;
    sizeAndOffsetWrong.cdSizeDelta = 1 << 20;

    QByteArray lyingNames = zip(kSlides);  // the directory's name lengths run past the end record
    for (qsizetype at = lyingNames.indexOf("PK\x01\x02"); at >= 0; at = lyingNames.indexOf("PK\x01\x02", at + 4))
        put16(lyingNames, at + 28, 0xFFFF);

    const ZipCase cases[] = {
        // What LibreOffice and other writers produce (flags 08 08).
        {"document", zip(kWord), "docx"},
        {"workbook", zip(kSheet), "xlsx"},
        {"presentation", zip(kSlides), "pptx"},
        {"folder names ignore letter case", zip({{"XL/Workbook.xml"}}), "xlsx"},
        {"a folder named like a part is not one", zip({{"word"}, {"xl"}, {"wordy/x"}}), ""},
        {"other archive", zip(kPlain), ""},
        // The table's rows: flags 6 said "docx", flags 0 said "zip".
        {"flags 6 workbook is no docx", zip(kSheet, flags6), "xlsx"},
        {"flags 6 presentation", zip(kSlides, flags6), "pptx"},
        {"flags 6 document", zip(kWord, flags6), "docx"},
        {"flags 6 archive without document parts", zip(kPlain, flags6), ""},
        {"flags 0 document", zip(kWord, flags0), "docx"},
        {"flags 0 other archive stays zip", zip(kPlain, flags0), "zip"},
        {"stored entries (OpenDocument)", zip({{"mimetype", "application/vnd.oasis.opendocument.text"}}, stored), ""},
        {"archive storing a web page is no page", zip({{"index.html", "<html><head><title>t</title></head>"}}, stored),
         ""},
        // Unreadable entries leave the table's answer.
        {"flags 6 header alone", padTo(zip({{"word/document.xml"}}, flags6).left(10), 5000), "docx"},
        {"flags 0 header alone", padTo(zip({{"a"}}, flags0).left(10), 5000), "zip"},
        {"flags 6 header, binary name", zip({{QByteArray("\x01\x02\x03\x04\x05\xff", 6)}}, flags6), "docx"},
        {"flags 6 header, endless name", zip({{QByteArray(2000, 'a')}}, flags6), "docx"},
        // A directory whose recorded place is wrong is still found; without a
        // usable one the local headers decide.
        {"truncated download", zip(kSheet, noDirectory), "xlsx"},
        {"directory offset past the end", zip(kSheet, offsetPastEnd), "xlsx"},
        {"directory offset wrong, directory in place", zip(kSlides, offsetWrong), "pptx"},
        {"size and offset wrong", zip(kWord, sizeAndOffsetWrong), "docx"},
        {"directory name lengths past the end", lyingNames, "pptx"},
        // Local headers are only looked for in the first 64 KB.
        {"part after 64 KB, no directory", zip({{"a.bin", big}, {"xl/workbook.xml"}}, noDirectory), ""},
        {"part after 64 KB, directory at the end", zip({{"a.bin", big}, {"xl/workbook.xml"}}), "xlsx"},
        {"recorded sizes skip an archive stored inside",
         zip({{"inner.zip", zip({{"word/document.xml"}}, flags0NoDirectory)}, {"ppt/p.xml"}}, flags0NoDirectory), "pptx"},
        // Nameless entries tell nothing.
        {"0-byte name before a part", zip({{""}, {"ppt/presentation.xml"}}), "pptx"},
        {"only a 0-byte name, flags 0", zip({{""}}, flags0), "zip"},
        {"only a 0-byte name, flags 6", zip({{""}}, flags6), "docx"},
        {"only a 0-byte name, flags 8", zip({{""}}), ""},
    };
    dh::test::Detector detect;
    for (const ZipCase& c : cases) {
        EXPECT_EQ(detect(c.content), QString::fromLatin1(c.expected)) << c.what;
        EXPECT_LE(detect.last.containerReads, 2) << c.what;
    }
}

// --- Compound files ----------------------------------------------------------

constexpr quint32 kEnd = 0xFFFFFFFE;
constexpr quint32 kFree = 0xFFFFFFFF;

// A compound file with sectorCount sectors after the header. Sector 0 holds
// the allocation table, as LibreOffice lays it out; the directory starts at
// sector 1 and takes the sectors given to chain().
class Compound {
public:
    explicit Compound(int sectorCount, int shift = 9) : m_shift(shift), m_size(qsizetype(1) << shift)
    {
        m_file = QByteArray(m_size * (sectorCount + 1), '\0');
        m_file.replace(0, 8, dh::test::bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}));
        put16(m_file, 24, 0x3E);
        put16(m_file, 26, shift == 12 ? 4 : 3);
        put16(m_file, 28, 0xFFFE);
        put16(m_file, 30, quint32(shift));
        put16(m_file, 32, 6);
        put32(m_file, 44, 1);
        put32(m_file, 56, 4096);
        put32(m_file, 60, kEnd);
        put32(m_file, 68, kEnd);
        put32(m_file, 76, 0);  // the allocation table is sector 0
        for (int i = 1; i < 109; ++i)
            put32(m_file, 76 + 4 * i, kFree);
        for (qsizetype i = 0; i < m_size / 4; ++i)
            fat(quint32(i), kFree);
        fat(0, 0xFFFFFFFD);
        chain({1});
    }

    void fat(quint32 sector, quint32 next) { put32(m_file, m_size + 4 * sector, next); }

    // The directory's sectors, in order; the last one ends the chain.
    void chain(const QList<quint32>& sectors)
    {
        put32(m_file, 48, sectors.first());
        for (qsizetype i = 0; i < sectors.size(); ++i)
            fat(sectors[i], i + 1 < sectors.size() ? sectors[i + 1] : kEnd);
        m_dir = sectors;
    }

    // Directory entry `index` (counted along the chain): name, type
    // (1 storage, 2 stream, 5 root) and its left, right and child links.
    void entry(int index, const QString& name, int type, quint32 left = kFree, quint32 right = kFree,
               quint32 child = kFree)
    {
        const qsizetype perSector = m_size / 128;
        const qsizetype at = (qsizetype(m_dir[index / perSector]) + 1) * m_size + (index % perSector) * 128;
        if (at + 128 > m_file.size()) {
            ADD_FAILURE() << "entry " << index << " lies past the end of the built file";
            return;
        }
        for (qsizetype i = 0; i < name.size(); ++i)
            put16(m_file, at + 2 * i, name.at(i).unicode());
        put16(m_file, at + 64, quint32(2 * (name.size() + 1)));
        m_file[at + 66] = char(type);
        put32(m_file, at + 68, left);
        put32(m_file, at + 72, right);
        put32(m_file, at + 76, child);
    }

    // A root holding the given streams as a chain of right siblings.
    Compound& streams(const QStringList& names)
    {
        entry(0, QStringLiteral("Root Entry"), 5, kFree, kFree, names.isEmpty() ? kFree : 1);
        for (qsizetype i = 0; i < names.size(); ++i)
            entry(int(i + 1), names[i], 2, kFree, i + 1 < names.size() ? quint32(i + 2) : kFree);
        return *this;
    }

    QByteArray bytes() const { return m_file; }
    QByteArray& raw() { return m_file; }

private:
    int m_shift;
    qsizetype m_size;
    QByteArray m_file;
    QList<quint32> m_dir;
};

TEST(OfficeContainers, CompoundFileRootStreams)
{
    const QString obj = QStringLiteral("\x01" "CompObj");
    // The streams LibreOffice writes, the application's own one last, in a
    // second directory sector.
    Compound twoSectors(4);
    twoSectors.chain({2, 3});
    twoSectors.entry(0, QStringLiteral("Root Entry"), 5, kFree, kFree, 1);
    twoSectors.entry(1, obj, 2, 2, 4);
    twoSectors.entry(2, QStringLiteral("Ole"), 2, kFree, 3);
    twoSectors.entry(3, QStringLiteral("1Table"), 2);
    twoSectors.entry(4, QStringLiteral("WordDocument"), 2);

    // A presentation holding a Word document in a storage of its own.
    Compound embedded(2);
    embedded.entry(0, QStringLiteral("Root Entry"), 5, kFree, kFree, 1);
    embedded.entry(1, QStringLiteral("PowerPoint Document"), 2, kFree, 2);
    embedded.entry(2, QStringLiteral("ObjectPool"), 1, kFree, kFree, 3);
    embedded.entry(3, QStringLiteral("WordDocument"), 2);
    Compound onlyEmbedded(2);
    onlyEmbedded.entry(0, QStringLiteral("Root Entry"), 5, kFree, kFree, 1);
    onlyEmbedded.entry(1, QStringLiteral("ObjectPool"), 1, kFree, kFree, 2);
    onlyEmbedded.entry(2, QStringLiteral("Workbook"), 2);

    Compound big(2, 12);  // version 4: 4096-byte sectors
    big.streams({obj, QStringLiteral("PowerPoint Document")});

    // Faults in the structure.
    Compound pastEnd(2);
    pastEnd.streams({QStringLiteral("WordDocument")});
    pastEnd.raw().truncate(pastEnd.raw().size() - 100);  // the directory sector runs past the end
    Compound chainPastEnd(2);
    chainPastEnd.chain({1, 40});
    chainPastEnd.streams({obj, QStringLiteral("Ole")});
    chainPastEnd.entry(3, QStringLiteral("1Table"), 2, kFree, 4);  // entry 4 would be in sector 40
    Compound dirStartPastEnd(2);
    put32(dirStartPastEnd.raw(), 48, 0x00FFFFFF);
    Compound loop(3);  // 1 -> 2 -> 1 -> ...
    loop.chain({1, 2});
    loop.fat(2, 1);
    loop.streams({obj, QStringLiteral("Ole")});
    Compound loopFound(3);
    loopFound.chain({1, 2});
    loopFound.fat(2, 1);
    loopFound.streams({obj, QStringLiteral("Ole"), QStringLiteral("1Table"), QStringLiteral("x"),
                       QStringLiteral("Book")});
    Compound selfLoop(2);
    selfLoop.fat(1, 1);
    selfLoop.streams({QStringLiteral("PowerPoint Document")});
    Compound siblingLoop(2);
    siblingLoop.entry(0, QStringLiteral("Root Entry"), 5, kFree, kFree, 1);
    siblingLoop.entry(1, QStringLiteral("Ole"), 2, 2, 1);
    siblingLoop.entry(2, QStringLiteral("Ole2"), 2, 1, 2);
    Compound notRoot(2);
    notRoot.streams({QStringLiteral("WordDocument")});
    notRoot.raw()[512 + 512 + 66] = 1;  // entry 0 is a storage, not the root
    Compound badOrder(2);
    badOrder.streams({QStringLiteral("WordDocument")});
    put16(badOrder.raw(), 28, 0xFEFF);
    Compound badShift(2);
    badShift.streams({QStringLiteral("WordDocument")});
    put16(badShift.raw(), 30, 10);
    Compound longName(2);
    longName.streams({QStringLiteral("WordDocument")});
    put16(longName.raw(), 1024 + 128 + 64, 0xFFFF);  // name length beyond the 64-byte field, read up to the zero

    // The table keeps its own answer when bytes 512-515 match it.
    Compound tableFirst(2);
    tableFirst.streams({QStringLiteral("Workbook")});
    tableFirst.raw().replace(512, 4, dh::test::bytes({0xEC, 0xA5, 0xC1, 0x00}));

    const ZipCase cases[] = {
        {"document", Compound(2).streams({obj, QStringLiteral("WordDocument")}).bytes(), "doc"},
        {"workbook", Compound(2).streams({QStringLiteral("Workbook"), obj}).bytes(), "xls"},
        {"Excel 5 workbook", Compound(2).streams({QStringLiteral("Book")}).bytes(), "xls"},
        {"presentation", Compound(2).streams({QStringLiteral("PowerPoint Document")}).bytes(), "ppt"},
        {"names ignore letter case", Compound(2).streams({QStringLiteral("WORDDOCUMENT")}).bytes(), "doc"},
        {"other streams only", Compound(2).streams({obj, QStringLiteral("Contents")}).bytes(), ""},
        {"empty root", Compound(2).streams({}).bytes(), ""},
        {"directory over two sectors", twoSectors.bytes(), "doc"},
        {"embedded document is not the file's type", embedded.bytes(), "ppt"},
        {"only an embedded workbook", onlyEmbedded.bytes(), ""},
        {"4096-byte sectors", big.bytes(), "ppt"},
        {"directory sector past the end of the file", pastEnd.bytes(), ""},
        {"chain leaves the file after the first sector", chainPastEnd.bytes(), ""},
        {"directory start past the end of the file", dirStartPastEnd.bytes(), ""},
        {"chain loops", loop.bytes(), ""},
        {"chain loops after the stream", loopFound.bytes(), "xls"},
        {"sector chained to itself", selfLoop.bytes(), "ppt"},
        {"sibling links loop", siblingLoop.bytes(), ""},
        {"entry 0 is no root", notRoot.bytes(), ""},
        {"big-endian byte order mark", badOrder.bytes(), ""},
        {"sector shift 10", badShift.bytes(), ""},
        {"name length too large", longName.bytes(), "doc"},
        {"table's 20a decides first", tableFirst.bytes(), "doc"},
    };
    dh::test::Detector detect;
    for (const ZipCase& c : cases) {
        EXPECT_EQ(detect(c.content), QString::fromLatin1(c.expected)) << c.what;
        EXPECT_LE(detect.last.containerBytes, dh::kCompoundReadMax) << c.what;
    }
    // A loop is left as soon as it comes back: two directory sectors, one table sector.
    detect(loop.bytes());
    EXPECT_EQ(detect.last.containerReads, 3);
}

TEST(OfficeContainers, LongDirectoryChainStopsAt64KB)
{
    // 20 directory sectors of 4096 bytes (32 entries each), the document's
    // stream in the last one: the 64 KB budget ends the walk before it.
    Compound c(21, 12);
    QList<quint32> chain;
    for (quint32 s = 1; s <= 20; ++s)
        chain << s;
    c.chain(chain);
    c.entry(0, QStringLiteral("Root Entry"), 5, kFree, kFree, 1);
    for (int i = 1; i < 640; ++i)
        c.entry(i, QStringLiteral("s%1").arg(i), 2, kFree, i + 1 < 640 ? quint32(i + 1) : kFree);
    c.entry(639, QStringLiteral("WordDocument"), 2);
    dh::test::Detector detect;
    EXPECT_EQ(detect(c.bytes()), QString());
    EXPECT_EQ(detect.last.containerBytes, dh::kCompoundReadMax);
    // The same within the budget is found.
    c.entry(100, QStringLiteral("WordDocument"), 2, kFree, 101);
    EXPECT_EQ(detect(c.bytes()), QStringLiteral("doc"));
}

// A 4 GB file holding nothing but its structures: detection reads a fixed,
// small amount, whatever the size.
TEST(OfficeContainers, FourGigabyteSparseFiles)
{
    QTemporaryDir dir;
    const qint64 size = (qint64(4) << 30) + 4096;
    auto sparse = [&](const char* name, const QByteArray& head, qint64 tailAt, const QByteArray& tail) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(head);
        EXPECT_TRUE(f.resize(size));
        EXPECT_TRUE(f.seek(tailAt));
        f.write(tail);
        return path;
    };

    // A workbook: one entry at the front, the directory at the very end.
    const QByteArray archive = zip({{"[Content_Types].xml"}, {"xl/workbook.xml"}});
    const qsizetype cd = archive.indexOf("PK\x01\x02");
    QByteArray ending = archive.mid(cd);
    put32(ending, ending.size() - 6, quint32((size - ending.size()) & 0xFFFFFFFF));  // offset mod 4 GB, as a 32-bit field holds it
    const QString workbook = sparse("book.xlsx", archive.left(cd), size - ending.size(), ending);

    // A document whose directory lies near the end of the 4 GB.
    const quint32 dirSector = quint32(size / 512 - 2);
    Compound c(2);
    c.streams({QStringLiteral("WordDocument")});
    put32(c.raw(), 48, dirSector);
    const QString document = sparse("report.doc", c.bytes().left(1024), (qint64(dirSector) + 1) * 512,
                                    c.bytes().mid(1024, 512));

    DetectionStats st;
    EXPECT_EQ(dh::identifyFileType(workbook, &st), QStringLiteral("xlsx"));
    EXPECT_EQ(st.fileSize, size);
    EXPECT_EQ(st.headBytes, dh::kHeadBufferMax);
    EXPECT_EQ(st.containerReads, 1);  // the last 64 KB held the directory
    EXPECT_EQ(st.containerBytes, dh::kZipWindow);

    st = {};
    EXPECT_EQ(dh::identifyFileType(document, &st), QStringLiteral("doc"));
    EXPECT_EQ(st.headBytes, dh::kHeadBufferMax);
    // One directory sector; its chain continues in a table sector the header
    // does not list, so no more is read.
    EXPECT_EQ(st.containerReads, 1);
    EXPECT_EQ(st.containerBytes, 512);
    EXPECT_EQ(st.tailBytes, 0);
}

} // namespace
