#include "platform/chromiumcache/SimpleCache.h"

#include "app/Helpers.h"
#include "content/ContentType.h"
#include "html/Document.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>
#include <QtEndian>

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dh {
namespace simplecache {

namespace {

constexpr quint32 kMaxKeyLength = 1 << 20;
// Bit of the pickled response info marking a response cut off while cached.
constexpr quint32 kResponseTruncated = 1u << 12;
// Microseconds between 1601-01-01 and 1970-01-01.
constexpr qint64 kEngineEpochOffset = 11644473600LL * 1000000LL;
// More layers than this is not a real response.
constexpr int kMaxCodings = 4;

// Opens path for reading only when it is a regular file, not a link: a pipe
// would block the first read for ever, a link could lead anywhere. Without
// blocking, a pipe opens at once and is then told apart by its type.
// *notRegular says why a thing that is there was refused.
bool openRegular(QFile& f, const QString& path, bool* notRegular = nullptr)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        if (notRegular)
            *notRegular = ::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

QDateTime utcTime(const timespec& t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000, Qt::UTC);
}

// A regular file of its own, not a link to one.
bool isPlainFile(const QFileInfo& fi)
{
    return fi.isFile() && !fi.isSymLink();
}

bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

std::optional<QByteArray> readAt(QFile& f, qint64 pos, qint64 len)
{
    if (pos < 0 || len < 0 || pos + len > f.size() || !f.seek(pos))
        return std::nullopt;
    QByteArray b = f.read(len);
    if (b.size() != len)
        return std::nullopt;
    return b;
}

// Reads pieces of an entry file, serving them from one read of its start and
// one of its end where they fall there: listing then costs two reads a file.
class PieceReader {
public:
    explicit PieceReader(QFile& f) : m_f(f), m_size(f.size())
    {
        constexpr qint64 kHead = 4096, kTail = 16384;
        if (m_size <= kTail) {
            m_head = m_tail = readAt(f, 0, m_size).value_or(QByteArray());
        } else {
            m_head = readAt(f, 0, kHead).value_or(QByteArray());
            m_tailAt = m_size - kTail;
            m_tail = readAt(f, m_tailAt, kTail).value_or(QByteArray());
        }
    }
    std::optional<QByteArray> operator()(qint64 pos, qint64 len) const
    {
        if (pos < 0 || len < 0 || pos + len > m_size)
            return std::nullopt;
        if (pos + len <= m_head.size())
            return m_head.mid(pos, len);
        if (pos >= m_tailAt && pos + len <= m_tailAt + m_tail.size())
            return m_tail.mid(pos - m_tailAt, len);
        return readAt(m_f, pos, len);
    }

private:
    QFile& m_f;
    qint64 m_size;
    QByteArray m_head;
    qint64 m_tailAt = 0;
    QByteArray m_tail;
};

struct Eof {
    quint32 flags = 0;
    quint32 crc = 0;
    quint32 streamSize = 0;
};

std::optional<Eof> parseEof(const QByteArray& b)
{
    if (b.size() < kEofSize || qFromLittleEndian<quint64>(b.constData()) != kFinalMagic)
        return std::nullopt;
    Eof e;
    e.flags = qFromLittleEndian<quint32>(b.constData() + 8);
    e.crc = qFromLittleEndian<quint32>(b.constData() + 12);
    e.streamSize = qFromLittleEndian<quint32>(b.constData() + 16);
    return e;
}

quint32 crcOf(const QByteArray& b)
{
    return static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(b.constData()), static_cast<uInt>(b.size())));
}

void splitHeaderBlock(const QByteArray& block, int at, EntryFile& e)
{
    while (at < block.size()) {
        int end = block.indexOf('\0', at);
        if (end < 0)
            end = block.size();
        const QByteArray line = block.mid(at, end - at);
        if (line.isEmpty())
            break;
        e.headerLines << line;
        at = end + 1;
    }
}

// The pickled response info: payload size, flags (with a second flags word
// on newer engines), request and response times (and an original response
// time when the second word says so), then the raw header block as a
// length-prefixed string of NUL-separated lines. When the fields do not line
// up (a layout not known here) the header block is found by its "HTTP/" start.
void parseResponseInfo(const QByteArray& s0, EntryFile& e)
{
    auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(s0.constData() + at); };
    auto i64 = [&](qsizetype at) { return qFromLittleEndian<qint64>(s0.constData() + at); };
    bool parsed = false;
    if (s0.size() >= 8) {
        const quint32 flags = u32(4);
        const quint32 version = flags & 0xff;
        if (version >= 1 && version <= 3)
            e.truncated = (flags & kResponseTruncated) != 0;
        qsizetype at = 8;
        quint32 extra = 0;
        if ((flags & kInfoHasExtraFlags) && s0.size() >= at + 4) {
            extra = u32(at);
            at += 4;
        }
        if (s0.size() >= at + 16) {
            e.requestTime = fromEngineTime(i64(at));
            e.responseTime = fromEngineTime(i64(at + 8));
            at += 16;
            if (extra & kExtraHasOriginalResponseTime)
                at += 8;
            if (s0.size() >= at + 4) {
                const quint32 len = u32(at);
                if (len > 0 && at + 4 + qsizetype(len) <= s0.size() && s0.mid(at + 4, 5) == "HTTP/") {
                    splitHeaderBlock(s0.left(at + 4 + len), int(at + 4), e);
                    parsed = true;
                }
            }
        }
    }
    if (!parsed) {
        const int at = s0.indexOf("HTTP/");
        if (at >= 0)
            splitHeaderBlock(s0, at, e);
    }
    if (e.headerLines.isEmpty())
        return;
    const QList<QByteArray> status = e.headerLines.first().split(' ');
    if (status.size() >= 2) {
        bool ok = false;
        const int code = status.at(1).toInt(&ok);
        if (ok)
            e.httpStatus = code;
    }
    for (int i = 1; i < e.headerLines.size(); ++i) {
        const QByteArray& l = e.headerLines.at(i);
        const int colon = l.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = l.left(colon).trimmed().toLower();
        const QString value = QString::fromLatin1(l.mid(colon + 1).trimmed());
        if (name == "content-type")
            e.contentType = value;
        else if (name == "content-encoding")
            e.contentEncoding = value.toLower();
    }
}

// Decoding stages. Each takes coded bytes as they come and hands decoded
// bytes to the next one, so a body is never held whole: a stage returns
// false when its stream is broken or the next one refused the bytes.
using Sink = std::function<bool(const char*, size_t)>;

class Stage {
public:
    virtual ~Stage() = default;
    virtual bool feed(const char* data, size_t size, const Sink& out) = 0;
    // The input has ended: false when it ended inside the stream.
    virtual bool finish(const Sink& out) = 0;
};

class ZlibStage : public Stage {
public:
    explicit ZlibStage(int windowBits) { m_ok = inflateInit2(&m_s, windowBits) == Z_OK; }
    ~ZlibStage() override
    {
        if (m_ok)
            inflateEnd(&m_s);
    }
    bool feed(const char* data, size_t size, const Sink& out) override
    {
        if (!m_ok)
            return false;
        if (m_ended)
            return true;  // bytes after the stream are ignored
        m_s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        m_s.avail_in = static_cast<uInt>(size);
        do {
            m_s.next_out = reinterpret_cast<Bytef*>(m_buf);
            m_s.avail_out = sizeof m_buf;
            const int rc = inflate(&m_s, Z_NO_FLUSH);
            if (rc == Z_STREAM_END)
                m_ended = true;
            else if (rc != Z_OK && !(rc == Z_BUF_ERROR && m_s.avail_in == 0))
                return false;
            const size_t got = sizeof m_buf - m_s.avail_out;
            if (got > 0 && !out(m_buf, got))
                return false;
        } while (!m_ended && (m_s.avail_in > 0 || m_s.avail_out == 0));
        return true;
    }
    bool finish(const Sink&) override { return m_ok && m_ended; }

private:
    z_stream m_s{};
    bool m_ok = false;
    bool m_ended = false;
    char m_buf[64 * 1024];
};

// "deflate" is officially zlib-wrapped; some servers send it raw. The
// wrapped reading is tried first; when it fails before giving any byte, the
// input seen so far is read again as raw deflate.
class DeflateStage : public Stage {
public:
    bool feed(const char* data, size_t size, const Sink& out) override
    {
        if (!m_gave && !m_raw)
            m_seen.append(data, qsizetype(size));
        bool refused = false;
        const Sink counted = [&](const char* d, size_t n) {
            m_gave = true;
            refused = !out(d, n);
            return !refused;
        };
        if (m_inner->feed(data, size, counted)) {
            if (m_gave)
                m_seen = QByteArray();  // the wrapped reading holds: no going back
            return true;
        }
        return !refused && switchToRaw(counted);
    }
    bool finish(const Sink& out) override
    {
        const Sink counted = [&](const char* d, size_t n) {
            m_gave = true;
            return out(d, n);
        };
        if (m_inner->finish(counted))
            return true;
        return switchToRaw(counted) && m_inner->finish(counted);
    }

private:
    bool switchToRaw(const Sink& out)
    {
        if (m_gave || m_raw)
            return false;
        m_raw = true;
        m_inner = std::make_unique<ZlibStage>(-15);
        const QByteArray seen = std::exchange(m_seen, QByteArray());
        return m_inner->feed(seen.constData(), size_t(seen.size()), out);
    }

    std::unique_ptr<Stage> m_inner = std::make_unique<ZlibStage>(15 + 32);
    QByteArray m_seen;
    bool m_gave = false;
    bool m_raw = false;
};

class BrotliStage : public Stage {
public:
    BrotliStage() : m_st(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliStage() override
    {
        if (m_st)
            BrotliDecoderDestroyInstance(m_st);
    }
    bool feed(const char* data, size_t size, const Sink& out) override
    {
        if (!m_st)
            return false;
        if (m_ended)
            return true;
        size_t availIn = size;
        const uint8_t* nextIn = reinterpret_cast<const uint8_t*>(data);
        for (;;) {
            size_t availOut = sizeof m_buf;
            uint8_t* nextOut = m_buf;
            const BrotliDecoderResult r =
                BrotliDecoderDecompressStream(m_st, &availIn, &nextIn, &availOut, &nextOut, nullptr);
            const size_t got = sizeof m_buf - availOut;
            if (got > 0 && !out(reinterpret_cast<const char*>(m_buf), got))
                return false;
            if (r == BROTLI_DECODER_RESULT_SUCCESS)
                m_ended = true;
            if (r != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT)
                return r != BROTLI_DECODER_RESULT_ERROR;
        }
    }
    bool finish(const Sink&) override { return m_st && m_ended; }

private:
    BrotliDecoderState* m_st;
    bool m_ended = false;
    uint8_t m_buf[64 * 1024];
};

class ZstdStage : public Stage {
public:
    ZstdStage() : m_ds(ZSTD_createDStream()), m_buf(ZSTD_DStreamOutSize())
    {
        if (m_ds)
            ZSTD_initDStream(m_ds);
    }
    ~ZstdStage() override
    {
        if (m_ds)
            ZSTD_freeDStream(m_ds);
    }
    bool feed(const char* data, size_t size, const Sink& out) override
    {
        if (!m_ds)
            return false;
        m_any = m_any || size > 0;
        ZSTD_inBuffer in{data, size, 0};
        while (in.pos < in.size) {
            ZSTD_outBuffer o{m_buf.data(), m_buf.size(), 0};
            m_last = ZSTD_decompressStream(m_ds, &o, &in);
            if (ZSTD_isError(m_last))
                return false;
            if (o.pos > 0 && !out(m_buf.data(), o.pos))
                return false;
        }
        return true;
    }
    bool finish(const Sink& out) override
    {
        // Output still held inside the decoder.
        ZSTD_inBuffer in{nullptr, 0, 0};
        while (m_ds && m_last != 0) {
            ZSTD_outBuffer o{m_buf.data(), m_buf.size(), 0};
            m_last = ZSTD_decompressStream(m_ds, &o, &in);
            if (ZSTD_isError(m_last) || o.pos == 0)
                break;
            if (!out(m_buf.data(), o.pos))
                return false;
        }
        // m_last != 0: the input ended inside a frame.
        return m_ds && m_any && m_last == 0;
    }

private:
    ZSTD_DStream* m_ds;
    std::vector<char> m_buf;
    size_t m_last = 1;  // non-zero: a frame is still open
    bool m_any = false;
};

QStringList codingsOf(const QString& contentEncoding)
{
    QStringList out;
    for (const QString& c : contentEncoding.split(QLatin1Char(','))) {
        const QString t = c.trimmed().toLower();
        if (!t.isEmpty() && t != QLatin1String("identity"))
            out << t;
    }
    return out;
}

bool knownCoding(const QString& c)
{
    return c == QLatin1String("gzip") || c == QLatin1String("x-gzip") || c == QLatin1String("deflate")
           || c == QLatin1String("br") || c == QLatin1String("zstd");
}

std::unique_ptr<Stage> stageFor(const QString& coding)
{
    if (coding == QLatin1String("gzip") || coding == QLatin1String("x-gzip"))
        return std::make_unique<ZlibStage>(15 + 32);
    if (coding == QLatin1String("deflate"))
        return std::make_unique<DeflateStage>();
    if (coding == QLatin1String("br"))
        return std::make_unique<BrotliStage>();
    if (coding == QLatin1String("zstd"))
        return std::make_unique<ZstdStage>();
    return nullptr;
}

// The stages undoing a Content-Encoding list, the last coding applied first,
// ending in sink. Feed it the stored body piece by piece, then finish it.
// Callers refuse lists with an unknown coding first (unsupportedCoding).
class DecodeChain {
    // Its stages' sinks point back into it.
    Q_DISABLE_COPY_MOVE(DecodeChain)

public:
    DecodeChain(const QStringList& codings, Sink sink) : m_sink(std::move(sink))
    {
        for (auto it = codings.crbegin(); it != codings.crend(); ++it) {
            m_codings << *it;
            m_stages.push_back(stageFor(*it));
        }
        m_outs.resize(m_stages.size());
        for (size_t k = 0; k < m_stages.size(); ++k) {
            m_outs[k] = [this, k](const char* d, size_t n) {
                if (k + 1 == m_stages.size()) {
                    m_sinkRefused = !m_sink(d, n);
                    return !m_sinkRefused;
                }
                return step(k + 1, m_stages[k + 1]->feed(d, n, m_outs[k + 1]));
            };
        }
    }
    bool feed(const char* d, size_t n)
    {
        if (m_stages.empty()) {
            m_sinkRefused = !m_sink(d, n);
            return !m_sinkRefused;
        }
        return step(0, m_stages[0]->feed(d, n, m_outs[0]));
    }
    bool finish()
    {
        // Finishing a stage may still hand bytes to the next one.
        for (size_t k = 0; k < m_stages.size(); ++k) {
            if (!step(k, m_stages[k]->finish(m_outs[k])))
                return false;
        }
        return true;
    }
    // The coding whose stream broke (empty when none did).
    QString broken() const { return m_broken >= 0 ? m_codings.at(m_broken) : QString(); }
    bool sinkRefused() const { return m_sinkRefused; }

private:
    // Remembers the innermost stage that failed by itself.
    bool step(size_t k, bool ok)
    {
        if (!ok && m_broken < 0 && !m_sinkRefused)
            m_broken = int(k);
        return ok;
    }

    Sink m_sink;
    QStringList m_codings;
    std::vector<std::unique_ptr<Stage>> m_stages;
    std::vector<Sink> m_outs;
    int m_broken = -1;
    bool m_sinkRefused = false;
};

// Collects a decoded body in memory, refusing more than kMaxDecodedBytes.
std::optional<QByteArray> decodeInMemory(const QStringList& codings, const QByteArray& data, QString* broken)
{
    QByteArray out;
    DecodeChain chain(codings, [&out](const char* d, size_t n) {
        out.append(d, qsizetype(n));
        return out.size() <= kMaxDecodedBytes;
    });
    if (chain.feed(data.constData(), size_t(data.size())) && chain.finish())
        return out;
    if (broken)
        *broken = chain.broken().isEmpty() ? codings.first() : chain.broken();
    return std::nullopt;
}

} // namespace

QDateTime fromEngineTime(qint64 value)
{
    // Only plausible times: 1990 to 2200.
    const qint64 unixUs = value - kEngineEpochOffset;
    if (unixUs < 631152000LL * 1000000LL || unixUs > 7258118400LL * 1000000LL)
        return {};
    return QDateTime::fromMSecsSinceEpoch(unixUs / 1000, Qt::UTC);
}

std::optional<QByteArray> gunzip(const QByteArray& data)
{
    return decodeInMemory({QStringLiteral("gzip")}, data, nullptr);
}

std::optional<QByteArray> inflateRaw(const QByteArray& data)
{
    QByteArray out;
    ZlibStage raw(-15);
    const Sink sink = [&out](const char* d, size_t n) {
        out.append(d, qsizetype(n));
        return out.size() <= kMaxDecodedBytes;
    };
    if (raw.feed(data.constData(), size_t(data.size()), sink) && raw.finish(sink))
        return out;
    return std::nullopt;
}

std::optional<QByteArray> brotliDecode(const QByteArray& data)
{
    return decodeInMemory({QStringLiteral("br")}, data, nullptr);
}

std::optional<QByteArray> zstdDecode(const QByteArray& data)
{
    return decodeInMemory({QStringLiteral("zstd")}, data, nullptr);
}

QString unsupportedCoding(const QString& contentEncoding)
{
    const QStringList codings = codingsOf(contentEncoding);
    if (codings.size() > kMaxCodings)
        return QStringLiteral("内容编码层数过多：%1").arg(contentEncoding);
    for (const QString& c : codings) {
        if (!knownCoding(c))
            return QStringLiteral("不支持的内容编码：%1").arg(c);
    }
    return {};
}

Decoded decodeBody(const QByteArray& raw, const QString& contentEncoding)
{
    if (const QString why = unsupportedCoding(contentEncoding); !why.isEmpty())
        return {std::nullopt, why};
    const QStringList codings = codingsOf(contentEncoding);
    if (codings.isEmpty())
        return {raw, {}};
    QString broken;
    if (auto data = decodeInMemory(codings, raw, &broken))
        return {std::move(*data), {}};
    return {std::nullopt, QStringLiteral("按%1解码失败：数据流已损坏").arg(broken)};
}

namespace {
// The length of a key's "N/N/" prefix, 0 without one (read for every entry
// listed, so by hand rather than by pattern).
qsizetype keyPrefixLength(const QString& k)
{
    qsizetype at = 0;
    for (int part = 0; part < 2; ++part) {
        const qsizetype digits = at;
        while (at < k.size() && k[at].isDigit() && k[at].unicode() < 128)
            ++at;
        if (at == digits || at >= k.size() || k[at] != QLatin1Char('/'))
            return 0;
        ++at;
    }
    return at;
}
} // namespace

QString urlFromKey(const QByteArray& key)
{
    const QString k = QString::fromUtf8(key);
    const int space = k.lastIndexOf(QLatin1Char(' '));
    if (space >= 0)
        return k.mid(space + 1);
    return k.mid(keyPrefixLength(k));
}

QString siteFromKey(const QByteArray& key)
{
    // "1/0/_dk_<top-frame site> <frame site> <url>", with variants such as
    // "_dk_s_" or "_cn_" markers before the first site.
    QString k = QString::fromUtf8(key);
    k = k.mid(keyPrefixLength(k));
    const int space = k.indexOf(QLatin1Char(' '));
    if (space < 0)
        return {};
    QString first = k.left(space);
    static const QRegularExpression marker(QStringLiteral("^(_[a-z]+_)+"));
    const QRegularExpressionMatch mk = marker.match(first);
    if (!mk.hasMatch())
        return {};
    return first.mid(mk.capturedLength());
}

QString entryHashOfKey(const QByteArray& key)
{
    const QByteArray sha = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    const quint64 v = qFromLittleEndian<quint64>(sha.constData());
    return QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0'));
}

std::optional<EntryFile> readEntryFile(const QString& path, QString* error)
{
    QFile f;
    bool notRegular = false;
    if (!openRegular(f, path, &notRegular)) {
        if (!notRegular) {
            fail(error, QStringLiteral("cannot open"));
            return std::nullopt;
        }
        // Shown, so that the user sees it and can delete it, but never read.
        EntryFile e;
        e.path = path;
        e.url = QFileInfo(path).fileName();
        e.hash = e.url.left(16);
        e.damage = QStringLiteral("不是普通文件（链接、管道或设备），不读取");
        fail(error, e.damage);
        return e;
    }
    const qint64 size = f.size();
    const PieceReader piece(f);
    const auto header = piece(0, kHeaderSize);
    if (!header || qFromLittleEndian<quint64>(header->constData()) != kInitialMagic) {
        fail(error, QStringLiteral("no entry header"));
        return std::nullopt;
    }
    const quint32 keyLength = qFromLittleEndian<quint32>(header->constData() + 12);
    const auto key = keyLength == 0 || keyLength > kMaxKeyLength ? std::nullopt : piece(kHeaderSize, keyLength);
    if (!key) {
        fail(error, QStringLiteral("bad key length"));
        return std::nullopt;
    }
    // The times from the open file, in UTC: local times would consult the
    // time zone files for every entry.
    struct stat st {};
    ::fstat(f.handle(), &st);
    EntryFile e;
    e.path = path;
    e.hash = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).left(16);
    e.key = *key;
    e.url = urlFromKey(*key);
    e.site = siteFromKey(*key);
    e.fileModified = utcTime(st.st_mtim);
    e.modified = e.fileModified;
    e.accessed = st.st_atim.tv_sec > 0 ? utcTime(st.st_atim) : e.modified;
    // The first failed check is the reason shown.
    auto damaged = [&](const QString& why) {
        if (e.damage.isEmpty())
            e.damage = why;
        fail(error, why);
        return e;
    };

    if (entryHashOfKey(*key) != e.hash)
        damaged(QStringLiteral("文件名不是键的散列（键或文件名已损坏）"));
    const qint64 bodyOffset = kHeaderSize + keyLength;
    if (bodyOffset + 2 * kEofSize > size)
        return damaged(QStringLiteral("文件不完整：缺少结束记录"));
    const auto eof0Bytes = piece(size - kEofSize, kEofSize);
    const auto eof0 = eof0Bytes ? parseEof(*eof0Bytes) : std::nullopt;
    if (!eof0)
        return damaged(QStringLiteral("文件不完整：缺少响应信息的结束记录"));
    const qint64 shaSize = (eof0->flags & kFlagHasKeySha256) ? 32 : 0;
    const qint64 stream0End = size - kEofSize - shaSize;
    const qint64 stream0Start = stream0End - eof0->streamSize;
    const qint64 eof1Pos = stream0Start - kEofSize;
    if (eof1Pos < bodyOffset)
        return damaged(QStringLiteral("流长度与文件大小不符"));
    const auto eof1Bytes = piece(eof1Pos, kEofSize);
    const auto eof1 = eof1Bytes ? parseEof(*eof1Bytes) : std::nullopt;
    if (!eof1)
        return damaged(QStringLiteral("正文的结束记录已损坏"));
    const auto stream0 = piece(stream0Start, eof0->streamSize);
    if (!stream0)
        return damaged(QStringLiteral("无法读取响应信息"));
    e.bodyOffset = bodyOffset;
    e.bodySize = eof1Pos - bodyOffset;
    e.bodyHasCrc = (eof1->flags & kFlagHasCrc32) != 0;
    e.bodyCrc = eof1->crc;
    parseResponseInfo(*stream0, e);
    if (e.responseTime.isValid())
        e.modified = e.responseTime;

    if (e.damage.isEmpty() && shaSize) {
        const auto sha = piece(stream0End, 32);
        if (!sha || *sha != QCryptographicHash::hash(*key, QCryptographicHash::Sha256))
            damaged(QStringLiteral("键的SHA-256不符"));
    }
    if (e.damage.isEmpty() && (eof0->flags & kFlagHasCrc32) && crcOf(*stream0) != eof0->crc)
        damaged(QStringLiteral("响应信息的校验和(CRC32)不符"));
    // The engine records each stream's length in its end record; a body
    // whose place in the file says otherwise was cut or shifted.
    if (e.damage.isEmpty() && eof1->streamSize != 0 && qint64(eof1->streamSize) != e.bodySize)
        damaged(QStringLiteral("正文长度与结束记录不符"));
    return e;
}

bool streamBody(EntryFile& e, const std::function<bool(const char*, size_t)>& sink, const std::atomic<bool>* cancel)
{
    if (!e.damage.isEmpty())
        return false;
    QFile f;
    if (!openRegular(f, e.path) || f.size() < e.bodyOffset + e.bodySize || !f.seek(e.bodyOffset)) {
        e.damage = QStringLiteral("无法读取正文");
        return false;
    }
    uLong crc = crc32(0, nullptr, 0);
    qint64 left = e.bodySize;
    QByteArray buf;
    while (left > 0) {
        if (cancel && *cancel)
            return false;
        buf = f.read(std::min<qint64>(left, 1 << 20));
        if (buf.isEmpty()) {
            e.damage = QStringLiteral("无法读取正文");
            return false;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buf.constData()), static_cast<uInt>(buf.size()));
        left -= buf.size();
        if (sink && !sink(buf.constData(), size_t(buf.size())))
            return false;
    }
    if (e.bodyHasCrc && static_cast<quint32>(crc) != e.bodyCrc) {
        e.damage = QStringLiteral("正文的校验和(CRC32)不符");
        return false;
    }
    return true;
}

bool checkBody(EntryFile& e, const std::atomic<bool>* cancel)
{
    return streamBody(e, {}, cancel);
}

std::optional<QByteArray> readRawBody(const EntryFile& e)
{
    QFile f;
    if (!openRegular(f, e.path))
        return std::nullopt;
    return readAt(f, e.bodyOffset, e.bodySize);
}

Decoded readBody(EntryFile& e)
{
    if (!e.damage.isEmpty())
        return {std::nullopt, e.damage};
    auto raw = readRawBody(e);
    if (!raw) {
        e.damage = QStringLiteral("无法读取正文");
        return {std::nullopt, e.damage};
    }
    if (e.bodyHasCrc && crcOf(*raw) != e.bodyCrc) {
        e.damage = QStringLiteral("正文的校验和(CRC32)不符");
        return {std::nullopt, e.damage};
    }
    return decodeBody(*raw, e.contentEncoding);
}

} // namespace simplecache

using simplecache::EntryFile;

namespace {

bool isNormal(const EntryFile& e)
{
    return e.httpStatus >= 200 && e.httpStatus < 300 && e.httpStatus != 206 && !e.truncated;
}

bool isEntryId(QStringView id)
{
    if (id.size() != 16)
        return false;
    for (QChar c : id) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

QStringList entryFiles(const QString& folder)
{
    // Whatever else bears an entry's name (a link, a pipe) is listed too, to
    // be shown damaged rather than skipped in silence.
    const QStringList names = QDir(folder).entryList(
        {QStringLiteral("*_0")}, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::NoSort);
    std::vector<std::pair<qint64, QString>> byTime;
    for (const QString& n : names) {
        if (n.size() != 18 || !n.endsWith(QLatin1String("_0")) || !isEntryId(QStringView(n).left(16)))
            continue;
        const QString path = folder + QLatin1Char('/') + n;
        struct stat st {};
        const bool ok = ::stat(QFile::encodeName(path).constData(), &st) == 0;
        byTime.emplace_back(ok ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0, path);
    }
    // Oldest file first, as the engine's index lists them (one stat per
    // file: sorting on local times would read the time zone at every step);
    // the same time in descending name order, as a reversed listing gives it.
    std::sort(byTime.begin(), byTime.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    QStringList out;
    for (auto& [t, path] : byTime)
        out << std::move(path);
    return out;
}

} // namespace

SimpleCacheIndex::SimpleCacheIndex(QString cacheFolder, QString sidecarFolder)
    : m_cacheFolder(std::move(cacheFolder)), m_sidecarFolder(std::move(sidecarFolder))
{
}

std::vector<EntryFile> SimpleCacheIndex::scan() const
{
    std::vector<EntryFile> out;
    for (const QString& f : entryFiles(m_cacheFolder)) {
        if (auto e = simplecache::readEntryFile(f))
            out.push_back(std::move(*e));
    }
    return out;
}

QString SimpleCacheIndex::sidecarPath(const EntryFile& e, const QString& title) const
{
    return m_sidecarFolder + QLatin1Char('/') + e.hash + QLatin1Char('/') + sidecarName(e, title);
}

QString SimpleCacheIndex::pageTitle(EntryFile& e)
{
    const QString type = e.contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if ((type != QLatin1String("text/html") && type != QLatin1String("application/xhtml+xml"))
        || !simplecache::unsupportedCoding(e.contentEncoding).isEmpty() || !e.damage.isEmpty())
        return {};
    // The title sits in the head: the first decoded bytes are enough.
    constexpr qsizetype kHead = 64 * 1024;
    QByteArray head;
    simplecache::DecodeChain chain(simplecache::codingsOf(e.contentEncoding), [&](const char* d, size_t n) {
        head.append(d, std::min<qsizetype>(qsizetype(n), kHead - head.size()));
        return head.size() < kHead;
    });
    bool decoding = true;
    simplecache::streamBody(e, [&](const char* d, size_t n) { return decoding = decoding && chain.feed(d, n); });
    if (decoding)
        chain.finish();
    e.damage.clear();  // a read stopped early says nothing about the entry
    const auto doc = Document::parse(head, QUrl(e.url), e.contentType);
    return doc ? doc->title().simplified() : QString();
}

CacheIndex::Item SimpleCacheIndex::itemOf(const EntryFile& e, const QSet<QString>* sidecars) const
{
    Item item;
    item.id = e.hash;
    item.url = e.url;
    item.site = e.site;
    item.normal = isNormal(e);
    item.size = e.damage.isEmpty() ? e.bodySize : -1;
    item.contentType = e.contentType;
    item.modified = e.modified;
    item.accessed = e.accessed;
    if (!e.damage.isEmpty()) {
        item.state = State::Damaged;
        item.reason = e.damage;
        return item;
    }
    item.reason = simplecache::unsupportedCoding(e.contentEncoding);
    if (m_sidecarFolder.isEmpty() || (sidecars && !sidecars->contains(e.hash)))
        return item;
    // Its one file, whatever name it got (a page is named after its title,
    // which the listing does not read).
    const QDir folder(m_sidecarFolder + QLatin1Char('/') + e.hash);
    const QStringList files = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    if (files.size() != 1)
        return item;
    const QFileInfo fi(folder.filePath(files.first()));
    // Written once: kept as long as the entry has not been replaced since.
    if (simplecache::isPlainFile(fi) && fi.lastModified() >= e.fileModified)
        item.localFile = fi.filePath();
    return item;
}

void SimpleCacheIndex::list(const ItemSink& sink, const std::atomic<bool>* cancel)
{
    // The entries that have a local file, from one read of the folder.
    QSet<QString> sidecars;
    if (!m_sidecarFolder.isEmpty()) {
        for (const QString& d : QDir(m_sidecarFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            sidecars.insert(d);
    }
    for (const QString& f : entryFiles(m_cacheFolder)) {
        if (cancel && *cancel)
            return;
        if (auto e = simplecache::readEntryFile(f))
            sink(itemOf(*e, &sidecars));
    }
}

std::optional<EntryFile> SimpleCacheIndex::entryOf(const QString& id) const
{
    if (!isEntryId(id))
        return std::nullopt;
    return simplecache::readEntryFile(m_cacheFolder + QLatin1Char('/') + id + QStringLiteral("_0"));
}

CacheIndex::CheckResult SimpleCacheIndex::check(const QString& id, const std::atomic<bool>* cancel)
{
    auto e = entryOf(id);
    if (!e)
        return {State::Damaged, QStringLiteral("缓存中已没有这个条目")};
    if (!simplecache::checkBody(*e, cancel))
        return {e->damage.isEmpty() ? State::Unchecked : State::Damaged, e->damage};
    if (const QString why = simplecache::unsupportedCoding(e->contentEncoding); !why.isEmpty())
        return {State::Undecodable, why};
    return {State::Intact, {}, pageTitle(*e)};
}

QString SimpleCacheIndex::sidecarName(const EntryFile& e, const QString& title)
{
    if (QString named = sanitizeFileName(title.left(80)).trimmed(); !named.isEmpty())
        return named + QStringLiteral(".html");
    const QUrl u(e.url);
    QString path = u.path(QUrl::FullyDecoded);
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name = sanitizeFileName(name);
    if (name.isEmpty())
        name = QStringLiteral("index");
    if (!name.contains(QLatin1Char('.'))) {
        const QString type = fileTypeFromContentTypeHeader(e.contentType, QString());
        if (!type.isEmpty() && !type.contains(QLatin1Char('/')))
            name += QLatin1Char('.') + type;
    }
    return name;
}

CacheIndex::LocalFile SimpleCacheIndex::entryFile(const QString& id)
{
    if (m_sidecarFolder.isEmpty())
        return {{}, State::Unchecked, QStringLiteral("没有存放解码文件的文件夹")};
    auto e = entryOf(id);
    if (!e)
        return {{}, State::Damaged, QStringLiteral("缓存中已没有这个条目")};
    if (!e->damage.isEmpty())
        return {{}, State::Damaged, e->damage};
    const QString target = sidecarPath(*e, pageTitle(*e));
    const QFileInfo existing(target);
    if (simplecache::isPlainFile(existing) && existing.lastModified() >= e->fileModified)
        return {target, State::Intact, {}};
    if (const QString why = simplecache::unsupportedCoding(e->contentEncoding); !why.isEmpty())
        return {{}, State::Undecodable, why};
    const QString folder = QFileInfo(target).path();
    const bool folderMade = !QFileInfo::exists(folder);
    if (!QDir().mkpath(folder))
        return {{}, State::Intact, QStringLiteral("无法创建文件夹")};
    // The file appears only once the whole body has been read, its checksum
    // matched and every coding undone.
    QSaveFile out(target);
    LocalFile f = out.open(QIODevice::WriteOnly) ? decodeTo(*e, out)
                                                 : LocalFile{{}, State::Intact, QStringLiteral("无法写出文件：%1").arg(out.errorString())};
    if (f.reason.isEmpty() && !out.commit())
        f = {{}, State::Intact, QStringLiteral("无法写出文件：%1").arg(out.errorString())};
    if (!f.reason.isEmpty()) {
        out.cancelWriting();
        if (folderMade)
            QDir().rmdir(folder);
        return f;
    }
    return {target, State::Intact, {}};
}

CacheIndex::LocalFile SimpleCacheIndex::writeBody(EntryFile& e, QIODevice& out)
{
    if (!e.damage.isEmpty())
        return {{}, State::Damaged, e.damage};
    if (const QString why = simplecache::unsupportedCoding(e.contentEncoding); !why.isEmpty())
        return {{}, State::Undecodable, why};
    return decodeTo(e, out);
}

CacheIndex::LocalFile SimpleCacheIndex::decodeTo(EntryFile& e, QIODevice& out)
{
    // The body goes through the decoders to out piece by piece. A coded body
    // may expand without end: its decoded bytes are held to the limits as
    // they come, so a refusal costs no more than the limit.
    const QStringList codings = simplecache::codingsOf(e.contentEncoding);
    enum class Limit { None, Size, Ratio, Run } hit = Limit::None;
    const qint64 runLeft = m_decodeBudget - m_decodedThisRun;
    qint64 written = 0;
    simplecache::DecodeChain chain(codings, [&](const char* d, size_t n) {
        written += qint64(n);
        if (!codings.isEmpty()) {
            if (written > simplecache::kMaxDecodedBytes)
                hit = Limit::Size;
            else if (written > simplecache::kRatioFreeBytes && written > e.bodySize * simplecache::kMaxDecodeRatio)
                hit = Limit::Ratio;
            else if (written > runLeft)
                hit = Limit::Run;
        }
        return hit == Limit::None && out.write(d, qint64(n)) == qint64(n);
    });
    bool decoding = true;
    // A stream that breaks is read on for the checksum: a damaged entry is
    // told apart from one that cannot be decoded.
    const bool read = simplecache::streamBody(e, [&](const char* d, size_t n) {
        if (decoding)
            decoding = chain.feed(d, n);
        return decoding || !chain.sinkRefused();
    });
    if (read && decoding && chain.finish()) {
        if (!codings.isEmpty())
            m_decodedThisRun += written;
        return {{}, State::Intact, {}};
    }
    if (!e.damage.isEmpty())
        return {{}, State::Damaged, e.damage};
    constexpr qint64 mb = 1 << 20;
    switch (hit) {
    case Limit::Size:
        return {{}, State::Undecodable, QStringLiteral("解码后超过%1 MB，不写出").arg(simplecache::kMaxDecodedBytes / mb)};
    case Limit::Ratio:
        return {{}, State::Undecodable,
                QStringLiteral("解码后超过%1 MB且超过存储大小的%2倍，不写出")
                    .arg(simplecache::kRatioFreeBytes / mb)
                    .arg(simplecache::kMaxDecodeRatio)};
    case Limit::Run:
        // The entry itself is fine: a later run may write it.
        return {{}, State::Intact, QStringLiteral("本次解码总量已达上限%1 MB，未写出").arg(m_decodeBudget / mb)};
    case Limit::None:
        break;
    }
    if (!chain.broken().isEmpty())
        return {{}, State::Undecodable, QStringLiteral("按%1解码失败：数据流已损坏").arg(chain.broken())};
    return {{}, State::Intact, QStringLiteral("无法写出文件：%1").arg(out.errorString())};
}

bool SimpleCacheIndex::deleteEntry(const QString& id)
{
    if (!isEntryId(id))
        return false;
    bool removed = false;
    const QString stem = m_cacheFolder + QLatin1Char('/') + id;
    for (const char* suffix : {"_0", "_1", "_s"}) {
        if (QFile::remove(stem + QLatin1String(suffix)))
            removed = true;
    }
    // Only the folder this program wrote for the entry; a link in it goes,
    // never what it points to, and so does a link in its place.
    const QString side = m_sidecarFolder + QLatin1Char('/') + id;
    if (QFileInfo(side).isSymLink())
        QFile::remove(side);
    else
        QDir(side).removeRecursively();
    return removed;
}

} // namespace dh
