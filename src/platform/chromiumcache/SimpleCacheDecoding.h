#pragma once
// Undoing the Content-Encoding of a cached body, streaming or in memory.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace dh::simplecache {

// Limits on what decoding a stored body may write out, so that a small
// hostile cache cannot fill the disk: an entry decoded beyond kMaxDecodedBytes,
// or beyond kRatioFreeBytes and more than kMaxDecodeRatio times its stored
// size, is refused; one run of writing local files (an extraction, a copy out
// of the viewer) decodes at most kDecodeBudgetPerRun bytes in all.
inline constexpr qint64 kMaxDecodedBytes = qint64(1) << 30;
inline constexpr qint64 kRatioFreeBytes = qint64(10) << 20;
inline constexpr qint64 kMaxDecodeRatio = 1000;
inline constexpr qint64 kDecodeBudgetPerRun = qint64(2) << 30;

struct Decoded {
    std::optional<QByteArray> data;
    QString error;  // why data is missing
};

// Undoes a Content-Encoding list ("gzip, br") in reverse order: gzip,
// x-gzip, deflate, br, zstd, identity. Unknown codings are refused by name.
Decoded decodeBody(const QByteArray& raw, const QString& contentEncoding);
// The reason an encoding cannot be undone, found from the header alone;
// empty when every coding of the list is known.
QString unsupportedCoding(const QString& contentEncoding);

// The codings of a Content-Encoding list, in the order they were applied
// ("identity" and empty items left out, lower case).
QStringList codingsOf(const QString& contentEncoding);

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

// The stage undoing one known coding (gzip, x-gzip, deflate, br, zstd).
std::unique_ptr<Stage> stageFor(const QString& coding);

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

} // namespace dh::simplecache
