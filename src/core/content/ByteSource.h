#pragma once
// Where detection takes its bytes from: a file on disk or a buffer in memory.
// Internal to the content detectors.
#include <QByteArrayView>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace dh::detail {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to len bytes at pos into buf; returns the count read (fewer only
    // at the end of the data) or -1 on a read error.
    virtual qint64 readAt(qint64 pos, char* buf, qint64 len) = 0;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(int fd) : m_fd(fd) {}
    qint64 readAt(qint64 pos, char* buf, qint64 len) override
    {
        qint64 done = 0;
        while (done < len) {
            const ssize_t r = ::pread(m_fd, buf + done, size_t(len - done), off_t(pos + done));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (r == 0)
                break;  // the file shrank; the rest of the buffer stays zero
            done += r;
        }
        return done;
    }

private:
    int m_fd;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(QByteArrayView data) : m_data(data) {}
    qint64 readAt(qint64 pos, char* buf, qint64 len) override
    {
        if (pos < 0 || pos >= m_data.size())
            return 0;
        const qint64 n = std::min(len, m_data.size() - pos);
        std::memcpy(buf, m_data.data() + pos, size_t(n));
        return n;
    }

private:
    QByteArrayView m_data;
};

} // namespace dh::detail
