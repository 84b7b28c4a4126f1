#include "download/DownloadListModel.h"

#include "app/RowRemoval.h"
#include "download/ListOperations.h"
#include "download/TransferSupport.h"

#include <algorithm>

namespace dh {

namespace {
std::function<QVariant(DownloadState)>& iconProvider()
{
    static std::function<QVariant(DownloadState)> p;
    return p;
}

// A row that fails while its earlier, complete file is still its own (a
// re-download) says that the file stayed.
void noteKeptFile(DownloadItem& it)
{
    if (isFinishedFileKept(it))
        it.note = RowNote::KeptFile;
}

qint64 positive(qint64 n)
{
    return n > 0 ? n : 0;
}

QString bytesCell(qint64 n)
{
    if (n == kUnknownSize)
        return QStringLiteral("未知");
    return n < 0 ? QString() : QString::number(n);
}

} // namespace

QString noteText(RowNote note)
{
    switch (note) {
    case RowNote::None: return {};
    case RowNote::SkippedExisting: return QStringLiteral("已存在，跳过");
    case RowNote::SkippedTooLarge: return QStringLiteral("大文件，跳过");
    case RowNote::Cancelled: return QStringLiteral("下载取消");
    case RowNote::Unsupported: return unsupportedAddressText();
    case RowNote::KeptFile: return keptFileText();
    case RowNote::Missing: return QStringLiteral("不存在");
    case RowNote::WaitingAgain: return QStringLiteral("等待重新下载");
    case RowNote::RetryWaiting: return QStringLiteral("等待重试");
    }
    return {};
}

QString cellText(const DownloadItem& it, int column)
{
    switch (column) {
    case DownloadListModel::ColName: return it.name;
    case DownloadListModel::ColType: return it.fileType;
    case DownloadListModel::ColSize:
        return it.note == RowNote::WaitingAgain ? noteText(it.note) : bytesCell(it.size);
    case DownloadListModel::ColReceived: return bytesCell(it.received);
    case DownloadListModel::ColProgress:
        if (it.note == RowNote::RetryWaiting)
            return QStringLiteral("等待重试 %1/%2（%3 秒）").arg(it.retries).arg(it.retryLimit).arg(it.retrySeconds);
        if (it.note != RowNote::None && it.note != RowNote::WaitingAgain)
            return noteText(it.note);
        return it.percent < 0 ? QString() : QString::number(it.percent) + QLatin1Char('%');
    case DownloadListModel::ColFolder: return it.folder;
    default: return {};
    }
}

namespace {

// Waiting or downloading: 1, else 0.
int inQueue(DownloadState s)
{
    return s == DownloadState::Waiting || s == DownloadState::Downloading ? 1 : 0;
}

} // namespace

QString DownloadListModel::stateText(DownloadState s)
{
    switch (s) {
    case DownloadState::Waiting: return QStringLiteral("等待");
    case DownloadState::Downloading: return QStringLiteral("正在下载");
    case DownloadState::Done: return QStringLiteral("已完成");
    case DownloadState::Failed: return QStringLiteral("失败");
    case DownloadState::Page: return QStringLiteral("网页");
    }
    return {};
}

DownloadListModel::DownloadListModel(QObject* parent) : QAbstractTableModel(parent) {}

void DownloadListModel::setIconProvider(std::function<QVariant(DownloadState)> provider)
{
    iconProvider() = std::move(provider);
}

int DownloadListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DownloadListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DownloadListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const DownloadItem& it = m_rows[size_t(index.row())];
    if (role == Qt::ToolTipRole && index.column() == ColProgress && it.state == DownloadState::Failed
        && !it.failReason.isEmpty())
        return it.failReason;
    if (role == StateTextRole)
        return stateText(it.state);
    // A web page in place of a document says so where a document shows 100%.
    if (role == Qt::DisplayRole && index.column() == ColProgress && it.state == DownloadState::Page)
        return stateText(it.state);
    if (role == Qt::ToolTipRole && index.column() == ColProgress && it.state == DownloadState::Page)
        return QStringLiteral("下载到的是网页，不是文档（可能要先网页登录）");
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cellText(it, index.column());
    if (role == Qt::DecorationRole && index.column() == ColName && iconProvider())
        return iconProvider()(it.state);
    if (role == Qt::UserRole)
        return it.url;
    if (role == Qt::UserRole + 1)
        return int(it.state);
    return {};
}

QVariant DownloadListModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColName: return QStringLiteral("名称");
    case ColType: return QStringLiteral("类型");
    case ColSize: return QStringLiteral("文件大小");
    case ColReceived: return QStringLiteral("已下载数");
    case ColProgress: return QStringLiteral("百分比");
    case ColFolder: return QStringLiteral("保存路径");
    default: return {};
    }
}

bool DownloadListModel::addItem(const QString& url, const QString& name, const QString& fileType,
                                const QString& folder, const QString& referer)
{
    if (m_index.contains(url))
        return true;  // the existing row stays as it is; the caller still sees success
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    DownloadItem it;
    it.url = url;
    it.name = name;
    it.fileType = fileType;
    it.folder = folder;
    it.referer = referer;
    it.requestedType = fileType;
    m_unfinished += inQueue(it.state);
    m_rows.push_back(std::move(it));
    m_index.insert(url, row);
    endInsertRows();
    return true;
}

int DownloadListModel::addItems(const std::vector<DownloadItem>& items)
{
    // The index learns each new row's final position at once, which also drops
    // repeats inside the batch; the rows themselves go in with one notification.
    const int first = int(m_rows.size());
    std::vector<DownloadItem> fresh;
    fresh.reserve(items.size());
    m_index.reserve(int(m_rows.size() + items.size()));
    for (const auto& it : items) {
        auto slot = m_index.find(it.url);
        if (slot != m_index.end())
            continue;
        m_index.insert(it.url, first + int(fresh.size()));
        DownloadItem& n = fresh.emplace_back(it);
        n.clearProgress();
        n.state = DownloadState::Waiting;
        n.owned = {};  // a new row has created nothing yet
        n.partial = {};
        n.resumed = false;
        if (n.requestedType.isEmpty())
            n.requestedType = n.fileType;
    }
    if (fresh.empty())
        return 0;
    beginInsertRows({}, first, first + int(fresh.size()) - 1);
    m_unfinished += int(fresh.size());  // all waiting
    m_rows.reserve(m_rows.size() + fresh.size());
    std::move(fresh.begin(), fresh.end(), std::back_inserter(m_rows));
    endInsertRows();
    return int(fresh.size());
}

bool DownloadListModel::setItem(int row, const DownloadItem& item)
{
    if (row < 0 || row >= size())
        return false;
    DownloadItem& cur = m_rows[size_t(row)];
    bool ok = true;
    DownloadItem next = item;
    if (next.requestedType.isEmpty())
        next.requestedType = cur.requestedType;  // a row built afresh keeps what was asked for
    // The kept body is not the caller's to set (a copy of the row taken
    // before a transfer took it would bring it back twice).
    next.partial = cur.partial;
    next.resumed = cur.resumed;
    if (next.url != cur.url) {
        if (m_index.contains(next.url)) {
            next.url = cur.url;
            ok = false;
        } else {
            m_index.remove(cur.url);
            m_index.insert(next.url, row);
            // Another address: the kept bytes are not of its document.
            dh::discardPartial(next.partial);
            next.resumed = false;
        }
    }
    const bool failsNow = next.state == DownloadState::Failed && cur.state != DownloadState::Failed;
    m_unfinished += inQueue(next.state) - inQueue(cur.state);
    cur = std::move(next);
    if (failsNow)
        noteKeptFile(cur);
    emitRowChanged(row);
    return ok;
}

void DownloadListModel::setState(int row, DownloadState s)
{
    if (row < 0 || row >= size())
        return;
    DownloadItem& it = m_rows[size_t(row)];
    if (s == DownloadState::Failed)
        noteKeptFile(it);
    m_unfinished += inQueue(s) - inQueue(it.state);
    it.state = s;
    if (s != DownloadState::Failed) {
        it.failReason.clear();
        it.failCode = FailCode::None;
        it.httpStatus = 0;
    }
    emitRowChanged(row);
}

void DownloadListModel::setFailed(int row, const QString& reason, FailCode code, int httpStatus)
{
    if (row < 0 || row >= size())
        return;
    DownloadItem& it = m_rows[size_t(row)];
    it.failReason = reason;
    it.failCode = code;
    it.httpStatus = httpStatus;
    setState(row, DownloadState::Failed);
}

void DownloadListModel::setOwnedFile(int row, const QString& path)
{
    if (row < 0 || row >= size())
        return;
    m_rows[size_t(row)].owned = identifyFile(path);
}

void DownloadListModel::setOwnedFile(int row, const OwnedFile& file)
{
    if (row < 0 || row >= size())
        return;
    m_rows[size_t(row)].owned = file;
}

void DownloadListModel::setProgress(int row, qint64 sz, qint64 received, int percent)
{
    if (row < 0 || row >= size())
        return;
    m_rows[size_t(row)].setProgress(sz, received, percent);
    emitRowChanged(row);
}

void DownloadListModel::setNote(int row, RowNote note)
{
    if (row < 0 || row >= size())
        return;
    m_rows[size_t(row)].note = note;
    emitRowChanged(row);
}

PartialBody DownloadListModel::takePartial(int row)
{
    if (row < 0 || row >= size())
        return {};
    return std::exchange(m_rows[size_t(row)].partial, {});
}

void DownloadListModel::setPartial(int row, const PartialBody& partial)
{
    if (row < 0 || row >= size())
        return;
    PartialBody& cur = m_rows[size_t(row)].partial;
    if (cur.isSet() && cur.path != partial.path)
        dh::discardPartial(cur);
    cur = partial;
}

void DownloadListModel::markResumed(int row)
{
    if (row >= 0 && row < size())
        m_rows[size_t(row)].resumed = true;
}

int DownloadListModel::findUrl(const QString& url) const
{
    return m_index.value(url, -1);
}

void DownloadListModel::removeRows(std::vector<int> rows)
{
    const auto runs = rowRuns(std::move(rows), size());
    if (runs.empty())
        return;
    for (const auto& run : runs) {
        for (int i = run.first; i <= run.second; ++i) {
            dh::discardPartial(m_rows[size_t(i)].partial);
            m_unfinished -= inQueue(m_rows[size_t(i)].state);
        }
    }
    if (int(runs.size()) <= kMaxRemovalRuns) {
        // From the bottom up so that earlier positions stay valid.
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            beginRemoveRows({}, it->first, it->second);
            m_rows.erase(m_rows.begin() + it->first, m_rows.begin() + it->second + 1);
            endRemoveRows();
        }
        rebuildIndex();
        return;
    }
    beginResetModel();
    eraseRuns(m_rows, runs);
    rebuildIndex();
    endResetModel();
}

DownloadListModel::~DownloadListModel()
{
    discardPartials();
}

void DownloadListModel::discardPartials()
{
    for (DownloadItem& it : m_rows)
        dh::discardPartial(it.partial);
}

void DownloadListModel::clear()
{
    discardPartials();
    beginResetModel();
    m_rows.clear();
    m_unfinished = 0;
    m_index.clear();
    endResetModel();
}

void DownloadListModel::reorder(const std::vector<int>& newOrder)
{
    if (int(newOrder.size()) != size())
        return;
    std::vector<DownloadItem> next;
    next.reserve(newOrder.size());
    std::vector<bool> seen(newOrder.size(), false);
    for (int from : newOrder) {
        if (from < 0 || from >= size() || seen[size_t(from)])
            return;  // not a permutation: leave the list alone
        seen[size_t(from)] = true;
        next.push_back(m_rows[size_t(from)]);
    }
    beginResetModel();
    m_rows = std::move(next);
    rebuildIndex();
    endResetModel();
}

int DownloadListModel::countNotDownloaded() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const DownloadItem& it) { return it.progressEmpty(); }));
}

bool DownloadListModel::isListFinished() const
{
    return m_unfinished == 0;
}

void DownloadListModel::settleRow(int row)
{
    if (row < 0 || row >= size())
        return;
    const DownloadItem& it = m_rows[size_t(row)];
    const bool page = isWebPageType(it.fileType) && !isWebPageType(it.requestedType) && !it.isSkipped();
    if (it.state == DownloadState::Done && page)
        setState(row, DownloadState::Page);
    else if (it.state == DownloadState::Page && !page)
        setState(row, DownloadState::Done);
}

void DownloadListModel::settleAllRows()
{
    for (int i = 0; i < size(); ++i)
        settleRow(i);
}

int DownloadListModel::countUnfinished() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(),
                             [](const DownloadItem& it) { return isUnfinished(it); }));
}

DownloadListModel::Totals DownloadListModel::totals() const
{
    Totals t;
    t.rows = size();
    for (const auto& it : m_rows) {
        const int s = int(it.state);
        if (s >= 1 && s <= 5)
            ++t.byState[s];
        if (it.state == DownloadState::Waiting || it.isSkipped())
            continue;
        const qint64 got = positive(it.received);
        t.received += got;
        if (it.state == DownloadState::Downloading) {
            if (const qint64 size = positive(it.size); size > 0) {
                t.knownLeft += std::max<qint64>(0, size - got);
                t.sizedBytes += size;
                ++t.sizedRows;
            }
        } else if (it.state == DownloadState::Done || it.state == DownloadState::Page) {
            t.sizedBytes += got;
            ++t.sizedRows;
        }
    }
    return t;
}

int DownloadListModel::countBadRows() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const DownloadItem& it) {
        return it.state == DownloadState::Failed || isWebPageType(it.fileType);
    }));
}

QString DownloadListModel::updateListCounters() const
{
    int counts[6] = {};
    for (const auto& it : m_rows) {
        const int s = int(it.state);
        if (s >= 1 && s <= 5)
            ++counts[s];
    }
    QString text = QStringLiteral("总数:") + QString::number(m_rows.size());
    for (DownloadState s : {DownloadState::Downloading, DownloadState::Waiting, DownloadState::Done,
                            DownloadState::Failed, DownloadState::Page}) {
        // Lists without web pages keep the counter line they always had.
        if (s == DownloadState::Page && counts[int(s)] == 0)
            continue;
        text += QLatin1Char(' ') + stateText(s) + QLatin1Char(':') + QString::number(counts[int(s)]);
    }
    return text;
}

QString DownloadListModel::rowCountText() const
{
    return QString::number(m_rows.size()) + QStringLiteral("条");
}

void DownloadListModel::rebuildIndex()
{
    m_index.clear();
    m_index.reserve(int(m_rows.size()));
    for (int i = 0; i < int(m_rows.size()); ++i)
        m_index.insert(m_rows[size_t(i)].url, i);
}

void DownloadListModel::emitRowChanged(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

} // namespace dh
