#pragma once
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <vector>

class QAbstractItemView;

namespace dh {

// Whether a row of a view is selected, answered from one flag per row that is
// rebuilt only after the selection or the rows change. The selection model
// walks every selected range on each question, so asking it row by row over
// a large scattered selection takes time that grows with the square of the
// list.
class SelectedRowFlags : public QObject {
    Q_OBJECT
public:
    // The view must have its model set; the flags follow it from then on.
    explicit SelectedRowFlags(QAbstractItemView* view);

    // The same answer as the selection model's isRowSelected(row, {}).
    bool isRowSelected(int row) const;

private:
    void rebuild() const;

    QPointer<QAbstractItemView> m_view;
    mutable std::vector<char> m_flags;  // 1 selected, 2 partly (ask the model), 0 not
    mutable bool m_stale = true;
};

} // namespace dh
