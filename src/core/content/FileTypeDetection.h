#pragma once
#include <QByteArrayView>
#include <QString>

namespace dh {

// How much one detection read, so tests and benchmarks can check the bounds:
// at most 10,241 head bytes and 128 tail bytes (the tail buffer's 129th byte
// always lies past the end of the file); small files are read once, the head
// buffer doubling as the whole buffer. ZIP archives and compound files add
// the reads that look inside them: at most kZipWindow bytes from each end of
// an archive, or kCompoundReadMax bytes of a compound file's tables.
struct DetectionStats {
    qint64 fileSize = -1;       // -1 when the file was not opened
    qint64 headBytes = 0;       // bytes read for the head buffer
    qint64 tailBytes = 0;       // bytes read for the tail buffer
    qint64 containerBytes = 0;  // bytes read inside a ZIP archive or compound file
    int containerReads = 0;     // read calls made for them
    int opens = 0;              // times the file was opened (0 or 1)
    qint64 bytesRead() const { return headBytes + tailBytes + containerBytes; }
};

// The longest head buffer and the tail length, in bytes.
inline constexpr qint64 kHeadBufferMax = 10241;
inline constexpr qint64 kTailLength = 128;
// How far detection looks into office containers.
inline constexpr qint64 kZipWindow = 64 * 1024;        // from each end of a ZIP archive
inline constexpr qint64 kCompoundReadMax = 64 * 1024;  // of a compound file's tables
inline constexpr qint64 kContainerReadMax = 2 * kZipWindow;

// The real type of a file from its bytes, as a lower-case
// label ("pdf", "caj", "kdh", "nh", "tif", "rtf", "exe", "rar", "zip", "docx",
// "xlsx", "pptx", "swf", "rm", "wma", "mp3", "png", "gif", "jpg", "doc", "xls",
// "ppt", "htm", "caa"), or the empty text when it cannot tell. Never looks at
// the name.
// The signature table decides first. Then a ZIP archive is told apart by its
// entries (word/, xl/, ppt/), and a compound file that the table leaves
// unlabelled by the streams of its root storage.
// A missing file, anything that is not a regular file, a read error or a file
// too short for the signature tests give the empty text. The file is closed on
// return.
QString identifyFileType(const QString& path, DetectionStats* stats = nullptr);  // 打开文件判断文件类型

// The same for a file already open for reading at fd (left open): no look
// up of a name. stats->fileSize gives its length.
QString identifyOpenFile(int fd, DetectionStats* stats = nullptr);

// The same decision for bytes already in memory (the content of a whole file).
// Reads only the positions the file form would read.
QString detectFileTypeOfBytes(QByteArrayView content, DetectionStats* stats = nullptr);

} // namespace dh
