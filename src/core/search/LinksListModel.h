#pragma once
#include <QAbstractTableModel>
#include <QHash>
#include <QString>

#include <vector>

namespace dh {

// One collected link: a row of the search window's links list.
struct LinkItem {
    QString title;     // "标题": the cleaned result title
    QString url;       // row key, unique in the list
    QString fileType;  // "类型": pdf, doc, xls, ppt, txt or empty
    QString status;    // "分析状态": "", "成功" or "分析失败"
    QString folder;    // "保存路径": folder chosen at extraction time, or empty
    QString referer;   // the result page the link came from (the row's tag)
};

inline const QString& statusHandedOver()
{
    static const QString s = QStringLiteral("成功");
    return s;
}
inline const QString& statusFailed()
{
    static const QString s = QStringLiteral("分析失败");
    return s;
}

// The collected-links list. Rows are keyed by Url: an address is listed at
// most once. Cells cannot be edited in place.
class LinksListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColTitle = 0, ColType, ColStatus, ColFolder, ColBlank, ColumnCount };

    explicit LinksListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Appends a row; false (and nothing changes) when the Url is listed already
    // or empty.
    bool add(const LinkItem& item);
    int size() const { return int(m_rows.size()); }
    const LinkItem& item(int row) const { return m_rows[size_t(row)]; }
    const std::vector<LinkItem>& items() const { return m_rows; }
    int findUrl(const QString& url) const;  // -1 when absent
    void setStatus(int row, const QString& status);
    void removeRows(std::vector<int> rows);  // any order; duplicates and bad rows ignored
    void clear();

private:
    std::vector<LinkItem> m_rows;
    QHash<QString, int> m_index;
};

} // namespace dh
