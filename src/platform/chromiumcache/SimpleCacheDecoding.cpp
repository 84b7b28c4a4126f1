#include "platform/chromiumcache/SimpleCacheDecoding.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

namespace dh::simplecache {

namespace {

// More layers than this is not a real response.
constexpr int kMaxCodings = 4;

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

bool knownCoding(const QString& c)
{
    return c == QLatin1String("gzip") || c == QLatin1String("x-gzip") || c == QLatin1String("deflate")
           || c == QLatin1String("br") || c == QLatin1String("zstd");
}

} // namespace

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

namespace {

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

} // namespace dh::simplecache
