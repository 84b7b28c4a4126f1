#pragma once
#include <QString>

namespace dh {

// The file-type label a server's Content-Type announces ("pdf", "swf", "jpeg"...).
// Takes the media type alone (parameters already cut off by the caller).
// Returns the label, the empty text for application/octet-stream, or the input
// unchanged (then it contains "/", or it had no single "/") when the table does
// not know it. Callers keep their own type unless the result is non-empty and
// holds no "/". Pure.
QString contentTypeToFileType(const QString& contentType);

// What a transfer does with a raw "Content-Type" header value: trims it, keeps
// the part before the first ";" (trimmed), maps it, and returns the new type
// for the row, or currentType when the header says nothing useful.
QString fileTypeFromContentTypeHeader(const QString& headerValue, const QString& currentType);

} // namespace dh
