#pragma once
// A look inside the two containers office documents come in: ZIP archives
// (Office Open XML) and compound files (Word/Excel/PowerPoint 97-2003).
// Internal to the content detectors; every read is bounded and counted.
#include "content/ByteSource.h"
#include "content/FileTypeDetection.h"

#include <QString>

namespace dh::detail {

// What a ZIP archive's entry names say.
struct ZipLook {
    bool entriesRead = false;  // at least one entry with a name was found
    QString officeType;        // "docx", "xlsx", "pptx", or empty
};

// Reads the central directory from the last kZipWindow bytes and, when that
// gives no Office Open XML part, the local headers in the first kZipWindow
// bytes. Offsets and sizes in the archive are never trusted beyond the two
// buffers.
ZipLook lookInsideZip(ByteSource& src, qint64 fileSize, DetectionStats* stats);

// The type a compound file's root storage names through its streams:
// "WordDocument" gives "doc", "Workbook" or "Book" "xls", "PowerPoint
// Document" "ppt"; empty when none is there or the structure cannot be read.
// header holds the file's first 512 bytes. Reads at most
// kCompoundReadMax bytes of allocation table and directory.
QString compoundFileType(ByteSource& src, qint64 fileSize, const uchar* header, DetectionStats* stats);

} // namespace dh::detail
