#include "gui/SelectedRowFlags.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QItemSelectionModel>

#include <algorithm>

namespace dh {

SelectedRowFlags::SelectedRowFlags(QAbstractItemView* view) : QObject(view), m_view(view)
{
    const auto stale = [this] { m_stale = true; };
    if (QItemSelectionModel* sel = view->selectionModel()) {
        connect(sel, &QItemSelectionModel::selectionChanged, this, stale);
        connect(sel, &QItemSelectionModel::modelChanged, this, stale);
    }
    if (QAbstractItemModel* m = view->model()) {
        connect(m, &QAbstractItemModel::rowsInserted, this, stale);
        connect(m, &QAbstractItemModel::rowsRemoved, this, stale);
        connect(m, &QAbstractItemModel::rowsMoved, this, stale);
        connect(m, &QAbstractItemModel::modelReset, this, stale);
        connect(m, &QAbstractItemModel::layoutChanged, this, stale);
        connect(m, &QAbstractItemModel::columnsInserted, this, stale);
        connect(m, &QAbstractItemModel::columnsRemoved, this, stale);
    }
}

void SelectedRowFlags::rebuild() const
{
    m_stale = false;
    m_flags.clear();
    const QItemSelectionModel* sel = m_view ? m_view->selectionModel() : nullptr;
    const QAbstractItemModel* model = sel ? sel->model() : nullptr;
    if (!model)
        return;
    m_flags.assign(size_t(model->rowCount()), 0);
    const int lastColumn = model->columnCount() - 1;
    for (const QItemSelectionRange& r : sel->selection()) {
        if (r.parent().isValid() || r.top() < 0)
            continue;
        // A range over every column selects its rows; one over some columns
        // leaves the answer to the selection model.
        const char flag = r.left() == 0 && r.right() == lastColumn ? 1 : 2;
        for (int row = r.top(); row <= r.bottom() && row < int(m_flags.size()); ++row)
            m_flags[size_t(row)] = std::max(m_flags[size_t(row)], flag);
    }
}

bool SelectedRowFlags::isRowSelected(int row) const
{
    if (m_stale)
        rebuild();
    if (row < 0 || row >= int(m_flags.size()))
        return false;
    if (m_flags[size_t(row)] == 2)
        return m_view->selectionModel()->isRowSelected(row, QModelIndex());
    return m_flags[size_t(row)] == 1;
}

} // namespace dh
