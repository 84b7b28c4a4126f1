#pragma once
// Test rows written as the list shows them: "4096", "未知", "1,024", "37%",
// "大文件，跳过", "等待重新下载", "" become the row's numbers and note.
#include "download/DownloadListModel.h"

#include <QString>

namespace dh::test {

inline void setCellTexts(DownloadItem& it, const QString& size, const QString& received, const QString& progress)
{
    const auto bytes = [](QString t) {
        t.remove(u',');
        bool ok = false;
        const qint64 n = t.toLongLong(&ok);
        return t.isEmpty() ? kNoBytes : t == QStringLiteral("未知") ? kUnknownSize : ok ? n : kNoBytes;
    };
    it.clearProgress();
    it.size = bytes(size);
    it.received = bytes(received);
    for (RowNote n : {RowNote::SkippedExisting, RowNote::SkippedTooLarge, RowNote::Cancelled, RowNote::Unsupported,
                      RowNote::KeptFile, RowNote::Missing, RowNote::WaitingAgain}) {
        if (noteText(n) == progress || noteText(n) == size)
            it.note = n;
    }
    if (progress.endsWith(u'%'))
        it.percent = progress.chopped(1).toInt();
}

inline void setCellTexts(DownloadListModel& list, int row, const QString& size, const QString& received,
                         const QString& progress)
{
    DownloadItem it = list.item(row);
    setCellTexts(it, size, received, progress);
    list.setItem(row, it);
}

} // namespace dh::test
