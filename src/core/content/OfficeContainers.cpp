#include "content/OfficeContainers.h"

#include <QByteArray>

#include <vector>

namespace dh::detail {

namespace {

quint16 u16(const uchar* p)
{
    return quint16(p[0] | (p[1] << 8));
}

quint32 u32(const uchar* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

// Reads len bytes at pos into buf, counting them; false on a read error or
// when fewer bytes came than asked for.
bool countedRead(ByteSource& src, qint64 pos, QByteArray& buf, qint64 len, DetectionStats* stats)
{
    buf.resize(len);
    const qint64 got = src.readAt(pos, buf.data(), len);
    if (stats) {
        ++stats->containerReads;
        stats->containerBytes += std::max<qint64>(got, 0);
    }
    return got == len;
}

// --- ZIP ---------------------------------------------------------------------

constexpr char kLocalSig[] = "PK\x03\x04";
constexpr char kCentralSig[] = "PK\x01\x02";
constexpr char kEndSig[] = "PK\x05\x06";
constexpr qint64 kLocalHeaderSize = 30;
constexpr qint64 kCentralHeaderSize = 46;
constexpr qint64 kEndRecordSize = 22;

bool hasSig(const QByteArray& buf, qint64 pos, const char* sig)
{
    return pos >= 0 && pos + 4 <= buf.size() && std::memcmp(buf.constData() + pos, sig, 4) == 0;
}

bool startsWithFolder(QByteArrayView name, QByteArrayView folder)
{
    return name.size() > folder.size() && name.first(folder.size()).compare(folder, Qt::CaseInsensitive) == 0;
}

// A name an archiver writes: not empty, not endless, no control bytes.
// Anything else is taken for a header that only looks like one (noise after
// a signature, a damaged file) and tells nothing about the archive.
bool plausibleName(QByteArrayView name)
{
    if (name.isEmpty() || name.size() > 1024)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7F; });
}

// Office Open XML keeps a document's parts in one folder per application.
void visitName(QByteArrayView name, ZipLook& look)
{
    if (!plausibleName(name))
        return;
    look.entriesRead = true;
    if (!look.officeType.isEmpty())
        return;
    if (startsWithFolder(name, "word/"))
        look.officeType = QStringLiteral("docx");
    else if (startsWithFolder(name, "xl/"))
        look.officeType = QStringLiteral("xlsx");
    else if (startsWithFolder(name, "ppt/"))
        look.officeType = QStringLiteral("pptx");
}

// Walks central directory records from pos while they follow each other
// inside buf (stopping at end, the end record's position). Positions only
// grow, so a lying size cannot make it loop.
void walkCentralDirectory(const QByteArray& buf, qint64 pos, qint64 end, ZipLook& look)
{
    const auto* b = reinterpret_cast<const uchar*>(buf.constData());
    while (pos + kCentralHeaderSize <= end && hasSig(buf, pos, kCentralSig)) {
        const qint64 nameLen = u16(b + pos + 28);
        const qint64 next = pos + kCentralHeaderSize + nameLen + u16(b + pos + 30) + u16(b + pos + 32);
        if (pos + kCentralHeaderSize + nameLen > end)
            return;
        visitName(QByteArrayView(buf.constData() + pos + kCentralHeaderSize, nameLen), look);
        if (!look.officeType.isEmpty())
            return;
        pos = next;
    }
}

// The central directory, found through the end record in the last bytes.
void readCentralDirectory(const QByteArray& tail, qint64 tailStart, ZipLook& look)
{
    // The end record is the last one whose comment fits in the file.
    qint64 end = -1;
    for (qint64 p = tail.size() - kEndRecordSize; p >= 0; --p) {
        if (tail.at(p) == 'P' && hasSig(tail, p, kEndSig)) {
            const auto* e = reinterpret_cast<const uchar*>(tail.constData() + p);
            if (p + kEndRecordSize + u16(e + 20) <= tail.size()) {
                end = p;
                break;
            }
        }
    }
    if (end < 0)
        return;
    const auto* e = reinterpret_cast<const uchar*>(tail.constData() + end);
    const qint64 size = u32(e + 12);
    const qint64 offset = u32(e + 16);
    // Where the directory should start: right before the end record (which
    // also holds when bytes were put in front of the archive), else where the
    // recorded offset says. The first that holds a directory record is used.
    for (const qint64 start : {end - size, offset - tailStart}) {
        if (hasSig(tail, start, kCentralSig)) {
            walkCentralDirectory(tail, start, end, look);
            return;
        }
    }
    // A directory larger than the window (or misplaced): read the records
    // that lie in it, from the first one found.
    const qint64 first = tail.left(end).indexOf(QByteArrayView(kCentralSig, 4));
    if (first >= 0)
        walkCentralDirectory(tail, first, end, look);
}

// Local headers in the first bytes. An entry written with a data
// descriptor (flag bit 3) does not record its size up front, so the next
// header is searched for; otherwise it is skipped to directly.
void readLocalHeaders(const QByteArray& head, ZipLook& look)
{
    const auto* b = reinterpret_cast<const uchar*>(head.constData());
    const QByteArrayView sig(kLocalSig, 4);
    qint64 pos = 0;
    while (pos + kLocalHeaderSize <= head.size()) {
        if (!hasSig(head, pos, kLocalSig)) {
            pos = head.indexOf(sig, pos);
            if (pos < 0 || pos + kLocalHeaderSize > head.size())
                return;
        }
        const quint16 flags = u16(b + pos + 6);
        const qint64 nameLen = u16(b + pos + 26);
        const qint64 dataStart = pos + kLocalHeaderSize + nameLen + u16(b + pos + 28);
        if (pos + kLocalHeaderSize + nameLen <= head.size())
            visitName(QByteArrayView(head.constData() + pos + kLocalHeaderSize, nameLen), look);
        if (!look.officeType.isEmpty())
            return;
        const qint64 size = (flags & 0x08) ? 0 : qint64(u32(b + pos + 18));
        const qint64 next = dataStart + size;
        // Land on the next header, or search from past this one's fields.
        pos = hasSig(head, next, kLocalSig) ? next : pos + kLocalHeaderSize;
    }
}

// --- Compound files ----------------------------------------------------------

constexpr quint32 kMaxRegularSector = 0xFFFFFFF9;  // larger ids mark chain ends and special sectors
constexpr qint64 kHeaderDifatEntries = 109;
constexpr qint64 kDirEntrySize = 128;

class CompoundReader {
public:
    CompoundReader(ByteSource& src, qint64 fileSize, const uchar* header, DetectionStats* stats)
        : m_src(src), m_fileSize(fileSize), m_header(header), m_stats(stats)
    {
    }

    QString type()
    {
        // Little-endian byte order mark; 512- or 4096-byte sectors.
        if (u16(m_header + 28) != 0xFFFE)
            return {};
        const quint16 shift = u16(m_header + 30);
        if (shift != 9 && shift != 12)
            return {};
        m_shift = shift;
        m_sectorSize = qint64(1) << shift;

        const QByteArray dir = readDirectory(u32(m_header + 48));
        const qint64 count = dir.size() / kDirEntrySize;
        if (count == 0)
            return {};
        const auto* d = reinterpret_cast<const uchar*>(dir.constData());
        if (d[66] != 5)  // entry 0 is the root storage
            return {};

        // The root's children form a tree through their sibling links; only
        // streams directly in the root count (an embedded document keeps its
        // own streams in a storage of its own).
        bool word = false, workbook = false, powerPoint = false;
        std::vector<bool> seen(size_t(count), false);
        std::vector<quint32> pending{u32(d + 76)};
        while (!pending.empty()) {
            const quint32 id = pending.back();
            pending.pop_back();
            if (id >= quint64(count) || seen[id])
                continue;  // no entry, one past what was read, or a loop
            seen[id] = true;
            const uchar* e = d + qint64(id) * kDirEntrySize;
            pending.push_back(u32(e + 68));
            pending.push_back(u32(e + 72));
            if (e[66] != 2)
                continue;
            const QString name = entryName(e);
            word = word || name.compare(QLatin1String("WordDocument"), Qt::CaseInsensitive) == 0;
            workbook = workbook || name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0
                || name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0;
            powerPoint = powerPoint || name.compare(QLatin1String("PowerPoint Document"), Qt::CaseInsensitive) == 0;
        }
        if (word)
            return QStringLiteral("doc");
        if (workbook)
            return QStringLiteral("xls");
        if (powerPoint)
            return QStringLiteral("ppt");
        return {};
    }

private:
    static QString entryName(const uchar* e)
    {
        // Length in bytes including the terminating zero, at most 32 UTF-16
        // units; the name ends at its zero whatever the length says.
        const int units = std::min<int>(u16(e + 64), 64) / 2;
        QString name;
        for (int i = 0; i < units; ++i) {
            const quint16 unit = u16(e + 2 * i);
            if (unit == 0)
                break;
            name += QChar(unit);
        }
        return name;
    }

    // One sector into buf, within the read budget and the file.
    bool readSector(quint32 id, QByteArray& buf)
    {
        if (id > kMaxRegularSector)
            return false;
        const qint64 pos = (qint64(id) + 1) << m_shift;
        if (pos + m_sectorSize > m_fileSize || m_budget < m_sectorSize)
            return false;  // past the end of the file, or enough read
        m_budget -= m_sectorSize;
        return countedRead(m_src, pos, buf, m_sectorSize, m_stats);
    }

    // The sector after id in its chain, from the allocation table; only the
    // table sectors listed in the header are used.
    bool next(quint32 id, quint32* out)
    {
        const qint64 perSector = m_sectorSize / 4;
        const qint64 index = id / perSector;
        if (index >= kHeaderDifatEntries)
            return false;
        if (index != m_fatIndex) {
            m_fatIndex = -1;
            if (!readSector(u32(m_header + 76 + 4 * index), m_fat))
                return false;
            m_fatIndex = index;
        }
        *out = u32(reinterpret_cast<const uchar*>(m_fat.constData()) + 4 * (id % perSector));
        return true;
    }

    // The directory's sectors in chain order, until the chain ends, leaves
    // the file, comes back to a sector already read, or the budget is spent.
    QByteArray readDirectory(quint32 first)
    {
        QByteArray dir, sector;
        std::vector<quint32> visited;
        quint32 id = first;
        while (id <= kMaxRegularSector && std::find(visited.begin(), visited.end(), id) == visited.end()) {
            if (!readSector(id, sector))
                break;
            dir += sector;
            visited.push_back(id);
            if (!next(id, &id))
                break;
        }
        return dir;
    }

    ByteSource& m_src;
    qint64 m_fileSize;
    const uchar* m_header;
    DetectionStats* m_stats;
    int m_shift = 9;
    qint64 m_sectorSize = 512;
    qint64 m_budget = kCompoundReadMax;
    QByteArray m_fat;
    qint64 m_fatIndex = -1;
};

} // namespace

ZipLook lookInsideZip(ByteSource& src, qint64 fileSize, DetectionStats* stats)
{
    ZipLook look;
    const qint64 window = std::min(fileSize, kZipWindow);
    QByteArray tail;
    if (!countedRead(src, fileSize - window, tail, window, stats))
        return look;
    readCentralDirectory(tail, fileSize - window, look);
    if (!look.officeType.isEmpty())
        return look;
    if (fileSize <= kZipWindow) {
        readLocalHeaders(tail, look);  // the window already holds the whole file
        return look;
    }
    QByteArray head;
    if (countedRead(src, 0, head, window, stats))
        readLocalHeaders(head, look);
    return look;
}

QString compoundFileType(ByteSource& src, qint64 fileSize, const uchar* header, DetectionStats* stats)
{
    return CompoundReader(src, fileSize, header, stats).type();
}

} // namespace dh::detail
