#pragma once

namespace dh {

class DownloadListModel;

// Putting finished rows back into the queue, as the monitor's automatic
// re-download needs it. Each matching row loses its file (deleted under the
// type it had and under the type it ends with), becomes Waiting with empty
// progress cells, and a web-page type becomes "xxx" so that the next
// download does not inherit it. Waiting and Downloading rows never match.
// Both return the number of rows reset.

// Rows whose State is Failed ("出错项").
int resetFailedRowsForRedownload(DownloadListModel& list);
// Done or Failed rows of type htm, html or xml ("网页类型文件(HTM/HTML/xml)项");
// every matched row, xml included, gets the type "xxx".
int resetWebPageRowsForRedownload(DownloadListModel& list);

} // namespace dh
