#pragma once
#include "content/FileTypeDetection.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <initializer_list>

namespace dh::test {

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// head followed by fill up to size bytes (head cut when longer).
inline QByteArray padTo(QByteArray head, qsizetype size, char fill = 'x')
{
    if (head.size() > size)
        head.truncate(size);
    head.append(QByteArray(size - head.size(), fill));
    return head;
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Detects content both from a real file and from memory, checks that both
// agree and that the reads stayed within their bounds, and returns the label.
class Detector {
public:
    QString operator()(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1").arg(m_count++));
        EXPECT_TRUE(writeFile(path, content));
        DetectionStats fs, ms;
        const QString fromFile = identifyFileType(path, &fs);
        const QString fromMemory = detectFileTypeOfBytes(content, &ms);
        EXPECT_EQ(fromFile, fromMemory);
        EXPECT_EQ(fs.fileSize, content.size());
        EXPECT_EQ(fs.opens, 1);
        EXPECT_EQ(fs.headBytes, ms.headBytes);
        EXPECT_EQ(fs.tailBytes, ms.tailBytes);
        EXPECT_LE(fs.headBytes, std::min<qint64>(content.size(), kHeadBufferMax));
        EXPECT_LE(fs.tailBytes, kTailLength);
        EXPECT_EQ(fs.containerBytes, ms.containerBytes);
        EXPECT_EQ(fs.containerReads, ms.containerReads);
        EXPECT_LE(fs.containerBytes, kContainerReadMax);
        QFile::remove(path);
        last = fs;
        return fromFile;
    }
    DetectionStats last;

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

} // namespace dh::test
