#pragma once
#include "download/DownloadItem.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace dh {

class DownloadListModel;

// The download list's commands that need no window: filters, resets,
// removal sets, sorting and shuffling orders, name exports and the address
// replacement. Rows are 0-based positions; "selected" is a list of positions
// as the view reports them (any order, duplicates allowed).

// "htm" / "html", any letter case.
bool isWebPageType(const QString& fileType);
// "htm" / "html" / "xml", any letter case.
bool isWebPageOrXmlType(const QString& fileType);
// Done, Failed or Page: a row that needs no further transfer work.
bool isFinished(const DownloadItem& row);

// deleteItemFile: removes the row's file when the row's own transfer created
// it and it is still that very file (ownsItemFile); a file that was there
// before, or that another row or program wrote, stays. The row forgets the
// file once it is gone; a failure is ignored.
void deleteItemFile(DownloadItem& row);

// resetForRedownload: Waiting with progress cells emptied. A web-page row
// (with xmlToo: also "xml") loses its page and gets the type "xxx"; any other
// row keeps its file, which the new body replaces only once it is whole.
void resetForRedownload(DownloadListModel& list, int row, bool xmlToo = false);

// The progress text of a row whose new download failed while its earlier,
// complete file stayed: "重新下载失败，保留原文件".
QString keptFileText();
// Whether the row still owns a complete file of its own (not a placeholder):
// a row in that state that fails has kept its earlier file.
bool isFinishedFileKept(const DownloadItem& row);

// The re-download filters of the list menu.
enum class RedownloadFilter {
    Selected,           // 选中项: selected and Done/Failed
    Failed,             // 出错项: Failed
    WebPages,           // 网页类型文件(HTM/HTML/xml)项: htm/html/xml and Done/Failed
    FailedAndWebPages,  // 重新下载出错项和网页类型文件项: Failed, or htm/html and Done
    SmallComplete,      // 文件大小小于指定数字的项: complete and smaller than a limit
};

// The rows a filter matches, in list order. limit is the entered number for
// SmallComplete; selected is used by Selected.
std::vector<int> redownloadMatches(const DownloadListModel& list, RedownloadFilter filter,
                                   const std::vector<int>& selected = {}, double limit = 0);
// Applies resetForRedownload to every row the filter matches; the web-page
// filter also turns "xml" into "xxx". Returns the number of rows reset.
int redownloadRows(DownloadListModel& list, RedownloadFilter filter, const std::vector<int>& selected = {},
                   double limit = 0);

// A number as the size prompt and the size cells accept it: trimmed of
// spaces, a plain decimal (sign, fraction and exponent allowed); nullopt for
// anything else, including the empty text.
std::optional<double> parseNumber(const QString& text);

// Removal sets (the rows to remove, in list order).
std::vector<int> rowsInState(const DownloadListModel& list, DownloadState state);
// Removes the rows; files are never touched. Returns the number removed.
int removeRows(DownloadListModel& list, const std::vector<int>& rows);

// The file-deleting commands.
enum class DeleteFilter {
    WebPages,  // htm/html/xml and Done/Failed
    Failed,    // Failed
};
// Empties the three progress cells of each matching row and deletes its file;
// the row and its State stay. Returns the number of matching rows.
int deleteFilesOfRows(DownloadListModel& list, DeleteFilter filter);

// 取消下载选中项: selected Waiting rows become Failed. Returns how many changed.
int cancelWaitingRows(DownloadListModel& list, const std::vector<int>& selected);

// Double-click on a Failed row: the row waits again with empty progress
// cells and keeps its type; a page or part it owns goes, a complete file it
// kept stays until the new body replaces it. Other states: false, nothing happens.
bool resetFailedRowOnDoubleClick(DownloadListModel& list, int row);

// --- ordering ------------------------------------------------------------------

// shuffleList's order: at most maxMoves times, a row chosen by random(remaining)
// (a number from 1 to remaining) among the rows not yet moved goes to the end.
// Returns the permutation for DownloadListModel::reorder.
std::vector<int> shuffleOrder(int rowCount, const std::function<int(int)>& random, int maxMoves = 10000);
// Shuffles the list with that order; random defaults to a uniform source.
void shuffleList(DownloadListModel& list, std::function<int(int)> random = {});

// The order of one header click: numeric columns compare as 12-digit padded
// numbers (progress without its "%"); texts that are not whole numbers keep
// their text and fall into the text order among them. Stable.
std::vector<int> sortOrder(const DownloadListModel& list, int column, bool descending);
// Sorts the list by the column.
void sortList(DownloadListModel& list, int column, bool descending);

// --- export and address replacement -----------------------------------------------

// One Name per line, list order, CR LF after every line, in the system code
// page; onlyUnfinished keeps the rows that are not Done.
QByteArray exportNamesText(const DownloadListModel& list, bool onlyUnfinished);
// Writes the bytes over the file. Returns the system's error text on failure.
std::optional<QString> writeExportFile(const QString& path, const QByteArray& bytes);

struct UrlReplaceOutcome {
    enum Kind { Replaced, EmptyFind, DuplicateUrl, EmptyUrl } kind = Replaced;
    int changedRows = 0;  // rows whose Url or Referer changed
};
// Replaces every occurrence of find (any letter case) by replacement in each
// row's Url and then its Referer. find is used as typed; it is empty for the
// test when it holds only spaces. The Url is the row's key: a replacement
// that would leave two rows with one address, or a row without address, is
// refused as a whole and the list stays unchanged.
UrlReplaceOutcome replaceInAddresses(DownloadListModel& list, const QString& find, const QString& replacement);

} // namespace dh
