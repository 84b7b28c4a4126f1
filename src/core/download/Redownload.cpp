#include "download/Redownload.h"

#include "app/Helpers.h"
#include "download/DownloadListModel.h"

#include <QFile>

namespace dh {

namespace {

void deleteItemFile(const DownloadItem& row)
{
    const QString path = ItemFilePath(row);
    if (FileExists(path))
        QFile::remove(path);  // a file that will not go is left alone
}

bool isType(const QString& type, std::initializer_list<const char*> types)
{
    const QString t = type.toLower();
    for (const char* x : types) {
        if (t == QLatin1String(x))
            return true;
    }
    return false;
}

bool finished(const DownloadItem& row)
{
    return row.State == DownloadState::Done || row.State == DownloadState::Failed;
}

void reset(DownloadListModel& list, int i, bool xmlToo)
{
    DownloadItem row = list.item(i);
    deleteItemFile(row);
    row.State = DownloadState::Waiting;
    if (xmlToo ? isType(row.FileType, {"htm", "html", "xml"}) : isType(row.FileType, {"htm", "html"}))
        row.FileType = QStringLiteral("xxx");
    row.SizeText.clear();
    row.ReceivedText.clear();
    row.ProgressText.clear();
    deleteItemFile(row);
    list.setItem(i, row);
}

} // namespace

int ResetFailedRowsForRedownload(DownloadListModel& list)
{
    int n = 0;
    for (int i = 0; i < list.size(); ++i) {
        if (list.item(i).State == DownloadState::Failed) {
            reset(list, i, false);
            ++n;
        }
    }
    return n;
}

int ResetWebPageRowsForRedownload(DownloadListModel& list)
{
    int n = 0;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& row = list.item(i);
        if (finished(row) && isType(row.FileType, {"htm", "html", "xml"})) {
            reset(list, i, true);
            ++n;
        }
    }
    return n;
}

} // namespace dh
