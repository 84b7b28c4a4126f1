#pragma once
// Generated documents of the demo service: small but structurally valid files
// whose first bytes carry the signatures that downloaded files are recognised by.

#include <QByteArray>
#include <QString>

namespace dh::demo {

// A one-page PDF 1.4 with a correct cross-reference table.
QByteArray makePdf(const QString& text);

// An OLE compound file (version 3, 512-byte sectors) with one stream whose
// first sector follows the header directly: "WordDocument" starting with
// EC A5 C1 00 (doc), "Workbook" starting with 09 08 10 00 (xls), or
// "PowerPoint Document" whose fourth byte is F0 (ppt). type: doc, xls, ppt.
QByteArray makeOleDocument(const QString& type, const QString& text);

// A word-processing ZIP package; its first entry uses version 20, flags 6
// and deflate, as office suites write them.
QByteArray makeDocx(const QString& text);

// The document for a type label (pdf, doc, xls, ppt, docx, caj, kdh, nh, caa,
// txt, htm, html; case-insensitive). Empty for an unknown type.
QByteArray makeDocument(const QString& type, const QString& name);

// The Content-Type the service announces for a type label, without parameters.
QString contentTypeFor(const QString& type);

// CRC-32 as ZIP uses it.
quint32 crc32(const QByteArray& data);

} // namespace dh::demo
