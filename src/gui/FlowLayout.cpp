#include "gui/FlowLayout.h"

#include <QWidget>

#include <algorithm>

namespace dh {

FlowLayout::FlowLayout(QWidget* parent, int spacing) : QLayout(parent)
{
    setSpacing(spacing);
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void FlowLayout::addStretch()
{
    m_stretchAt = int(m_items.size());
}

void FlowLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    if (m_stretchAt > index)
        --m_stretchAt;
    return m_items.takeAt(index);
}

QSize FlowLayout::minimumSize() const
{
    QSize size;
    for (const QLayoutItem* item : m_items)
        size = size.expandedTo(item->minimumSize());
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const
{
    // Everything on one row.
    int width = 0, height = 0;
    for (const QLayoutItem* item : m_items) {
        if (item->isEmpty())
            continue;
        width += item->sizeHint().width() + (width > 0 ? spacing() : 0);
        height = std::max(height, item->sizeHint().height());
    }
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = std::max(0, spacing());
    // Rows first, so that each can be centred vertically and the items after
    // the stretch pushed to its right end.
    struct Row {
        int first = 0, last = -1, height = 0, width = 0;
    };
    QList<Row> rows{Row{}};
    int x = 0;
    for (int i = 0; i < m_items.size(); ++i) {
        const QLayoutItem* item = m_items[i];
        if (item->isEmpty())
            continue;
        const QSize hint = item->sizeHint().boundedTo(QSize(area.width(), QWIDGETSIZE_MAX));
        Row& row = rows.last();
        if (row.last >= row.first && x + gap + hint.width() > area.width()) {
            rows.append(Row{i, i - 1, 0, 0});
            x = 0;
        }
        Row& current = rows.last();
        x += (current.last >= current.first ? gap : 0) + hint.width();
        current.last = i;
        current.width = x;
        current.height = std::max(current.height, hint.height());
    }
    int y = area.top();
    for (const Row& row : rows) {
        if (row.last < row.first)
            continue;
        int left = area.left();
        for (int i = row.first; i <= row.last; ++i) {
            QLayoutItem* item = m_items[i];
            if (item->isEmpty())
                continue;
            if (i == m_stretchAt && i > row.first)
                left = std::max(left, area.left() + area.width() - (row.width - (left - area.left())));
            const QSize hint = item->sizeHint().boundedTo(QSize(area.width(), QWIDGETSIZE_MAX));
            if (apply)
                item->setGeometry(QRect(QPoint(left, y + (row.height - hint.height()) / 2), hint));
            left += hint.width() + gap;
        }
        y += row.height + gap;
    }
    return y - gap - area.top() + contentsMargins().top() + contentsMargins().bottom();
}

} // namespace dh
