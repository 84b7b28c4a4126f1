#pragma once
#include "download/DownloadItem.h"

#include <QAbstractTableModel>
#include <QHash>
#include <functional>
#include <vector>

namespace dh {

// The download window's job list: the data and its display at once. Rows are
// addressed by position (0-based here; the transfer slots keep 1-based positions).
// The text of a row's cell (a DownloadListModel column), as the list shows it.
QString cellText(const DownloadItem& item, int column);
// The words of a note ("已存在，跳过", ...); empty for None.
QString noteText(RowNote note);

class DownloadListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColName = 0, ColType, ColSize, ColReceived, ColProgress, ColFolder, ColumnCount };
    // data(): the row's state as text (stateText), in every column.
    static constexpr int StateTextRole = Qt::UserRole + 2;

    // The one place a state becomes words: "等待", "正在下载", "已完成", "失败", "网页".
    static QString stateText(DownloadState s);

    explicit DownloadListModel(QObject* parent = nullptr);
    // Bodies kept for a resume go with the list (the window closes, the run ends).
    ~DownloadListModel() override;

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    // Appends a Waiting row with empty progress cells. A row with the same Url
    // already present leaves the list unchanged; both cases report success.
    bool addItem(const QString& url, const QString& name, const QString& fileType, const QString& folder,
                 const QString& referer);
    // Appends many rows at once (one model reset notification per call).
    int addItems(const std::vector<DownloadItem>& items);

    int size() const { return int(m_rows.size()); }
    const DownloadItem& item(int row) const { return m_rows[size_t(row)]; }
    // Replaces a row's cells. The Url may change only to one not in the list
    // (otherwise the old Url is kept and false is returned).
    bool setItem(int row, const DownloadItem& item);
    void setState(int row, DownloadState s);
    // Failed, with the reason why and its code; any other state clears them.
    void setFailed(int row, const QString& reason, FailCode code = FailCode::Local, int httpStatus = 0);
    // The three progress cells (kNoBytes / -1: empty); the note goes.
    void setProgress(int row, qint64 size, qint64 received, int percent);
    void clearProgress(int row) { setProgress(row, kNoBytes, kNoBytes, -1); }
    // A note in place of the progress (or, WaitingAgain, of the size); the numbers stay.
    void setNote(int row, RowNote note);
    // Records the file at path (as it is now) as created by the row's own transfer.
    void setOwnedFile(int row, const QString& path);
    // The body kept for the row's next attempt. setItem never changes it:
    // takePartial hands it to a transfer (the row forgets it, the file
    // stays), setPartial gives one back (a different one the row held is
    // removed). Removing rows, clear() and the list's end remove them.
    PartialBody takePartial(int row);
    void setPartial(int row, const PartialBody& partial);
    void discardPartial(int row) { setPartial(row, {}); }
    void discardPartials();
    // An attempt of the row went on from a kept body.
    void markResumed(int row);
    void setOwnedFile(int row, const OwnedFile& file);
    int findUrl(const QString& url) const;  // -1 when absent; O(1)
    bool containsUrl(const QString& url) const { return findUrl(url) >= 0; }
    void removeRows(std::vector<int> rows);  // any order; duplicates ignored
    void clear();
    // Reorders the rows: newOrder[i] is the old position of the row that goes to i.
    void reorder(const std::vector<int>& newOrder);

    // Rows whose three progress cells are all empty.
    int countNotDownloaded() const;
    // True when no row is Waiting or Downloading.
    bool isListFinished() const;
    // After a transfer (or a type check) left its result in the row: a Done
    // row whose file is a web page where a document was asked for becomes
    // Page, and a Page row whose file turned out to be a document is Done again.
    void settleRow(int row);
    void settleAllRows();
    // Rows in Waiting, Downloading, Failed or Page: work not yet done.
    int countUnfinished() const;

    // What the total progress of the window shows.
    struct Totals {
        int rows = 0;
        int byState[6] = {};     // indexed by DownloadState
        qint64 received = 0;     // bytes the rows' transfers brought (skipped rows left out)
        qint64 knownLeft = 0;    // bytes still to come for running rows with a known size
        qint64 sizedBytes = 0;  // sizes of the rows ended complete or running with a known size
        int sizedRows = 0;      // ... and how many of them
        int count(DownloadState s) const { return byState[int(s)]; }
        int ended() const { return count(DownloadState::Done) + count(DownloadState::Failed) + count(DownloadState::Page); }
    };
    Totals totals() const;
    // Rows that are web pages (type htm/html) or Failed; each counted once.
    int countBadRows() const;
    // "总数:12 正在下载:1 等待:8 已完成:2 失败:1", and " 网页:N" after it
    // when some rows are web pages.
    QString updateListCounters() const;
    // "12条"
    QString rowCountText() const;

    // The row icon comes from the window layer (the engine draws nothing).
    static void setIconProvider(std::function<QVariant(DownloadState)> provider);

private:
    void rebuildIndex();
    void emitRowChanged(int row);

    std::vector<DownloadItem> m_rows;
    // Rows waiting or downloading, kept with every change of a row's state:
    // whether the list is finished is asked after every transfer.
    int m_unfinished = 0;
    QHash<QString, int> m_index;  // Url -> row
};

} // namespace dh
