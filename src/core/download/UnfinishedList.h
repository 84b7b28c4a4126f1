#pragma once
#include "download/DownloadItem.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace dh {

class DownloadListModel;

// The rows the download window had not finished when it closed, kept in the
// data folder until the next window offers them back.
//
// File format: like the name export (one row per line, CR LF after every
// line, the system code page), each line holding the fields a row needs,
// separated by TAB: Name, FileType, Folder, Url, Referer, state ("waiting",
// "downloading", "failed", "page"), the type the row was handed over with.
// A backslash, TAB, CR or LF inside a field is written \\, \t, \r, \n. A
// file with text the code page cannot hold is written in UTF-8 with a BOM.
QString unfinishedListFile();

// Waiting, Downloading, Failed and Page rows, in list order.
std::vector<DownloadItem> unfinishedRows(const DownloadListModel& list);

QByteArray unfinishedListText(const std::vector<DownloadItem>& rows);
// The rows of such a text as they come back: Waiting, progress cells empty,
// owning no file. A web-page row asks for its document again (it gets back
// the type it was handed over with). Lines without an address are skipped.
std::vector<DownloadItem> parseUnfinishedList(const QByteArray& text);

// Writes the rows over path through a temporary file, so an earlier list
// stays whole when writing fails. Returns the system's error text on failure.
std::optional<QString> writeUnfinishedList(const QString& path, const std::vector<DownloadItem>& rows);
// The rows of the file; none when it is missing or unreadable.
std::vector<DownloadItem> readUnfinishedList(const QString& path);

} // namespace dh
