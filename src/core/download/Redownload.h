#pragma once
#include <vector>

namespace dh {

class DownloadListModel;

// What the automatic re-download puts back into the queue: the index of the
// download window's choice box and of the command line's --redownload.
enum class RedownloadChoice {
    Failed = 0,             // "出错项"
    WebPages = 1,           // "文件类型为HTM和HTML项"
    FailedAndWebPages = 2,  // "出错项和文件类型为HTM和HTML项"
};

// The rows the automatic re-download resets, in list order: Failed rows,
// finished rows (Done, Failed, Page) of type htm, html or xml, or both.
// Waiting and Downloading rows never match.
std::vector<int> autoRedownloadRows(const DownloadListModel& list, RedownloadChoice choice);

// Resets those rows as the list menu's re-download commands do: each loses
// its file, becomes Waiting with empty progress cells, and a web-page type
// becomes "xxx" so that the next download does not inherit it ("xml" too,
// except on a Failed row that the failed-rows part of the choice takes).
// Returns the number of rows reset.
int resetForAutoRedownload(DownloadListModel& list, RedownloadChoice choice);

} // namespace dh
