#include "search/LinksListModel.h"

#include "app/RowRemoval.h"

#include <algorithm>

namespace dh {

LinksListModel::LinksListModel(QObject* parent) : QAbstractTableModel(parent) {}

int LinksListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : size();
}

int LinksListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LinksListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= size())
        return {};
    const LinkItem& it = item(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case ColTitle: return it.title;
        case ColType: return it.fileType;
        case ColStatus: return it.status;
        case ColFolder: return it.folder;
        default: return QString();
        }
    }
    if (role == Qt::ToolTipRole && index.column() == ColTitle)
        return it.url;
    if (role == Qt::UserRole)
        return it.url;
    return {};
}

QVariant LinksListModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColTitle: return QStringLiteral("标题");
    case ColType: return QStringLiteral("类型");
    case ColStatus: return QStringLiteral("分析状态");
    case ColFolder: return QStringLiteral("保存路径");
    case ColBlank: return QStringLiteral(" ");
    default: return {};
    }
}

Qt::ItemFlags LinksListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool LinksListModel::add(const LinkItem& item)
{
    if (item.url.isEmpty() || m_index.contains(item.url))
        return false;
    const int row = size();
    beginInsertRows({}, row, row);
    m_rows.push_back(item);
    m_index.insert(item.url, row);
    endInsertRows();
    return true;
}

int LinksListModel::findUrl(const QString& url) const
{
    return m_index.value(url, -1);
}

void LinksListModel::setStatus(int row, const QString& status)
{
    if (row < 0 || row >= size() || m_rows[size_t(row)].status == status)
        return;
    m_rows[size_t(row)].status = status;
    const QModelIndex i = index(row, ColStatus);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void LinksListModel::removeRows(std::vector<int> rows)
{
    const auto runs = rowRuns(std::move(rows), size());
    if (runs.empty())
        return;
    const bool reset = int(runs.size()) > kMaxRemovalRuns;
    if (reset) {
        beginResetModel();
        eraseRuns(m_rows, runs);
    } else {
        // From the bottom so earlier positions stay valid.
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            beginRemoveRows({}, it->first, it->second);
            m_rows.erase(m_rows.begin() + it->first, m_rows.begin() + it->second + 1);
            endRemoveRows();
        }
    }
    m_index.clear();
    m_index.reserve(size());
    for (int i = 0; i < size(); ++i)
        m_index.insert(m_rows[size_t(i)].url, i);
    if (reset)
        endResetModel();
}

void LinksListModel::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    m_index.clear();
    endResetModel();
}

} // namespace dh
