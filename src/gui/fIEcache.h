#pragma once
#include "cache/CacheViewer.h"

#include <QDialog>
#include <memory>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace dh {

// The browser-cache viewer: the current user's cached documents or the cache
// files of all users, with copying out, deleting and clearing.
class fIEcache : public QDialog {
    Q_OBJECT
public:
    // index and locations default to the embedded browser's cache.
    explicit fIEcache(QWidget* parent = nullptr, std::unique_ptr<CacheIndex> index = nullptr,
                      std::optional<CacheLocations> locations = std::nullopt);
    ~fIEcache() override;

    QTreeWidget* ListView1 = nullptr;  // URL, TYPE, SIZE(Byte), FilePath
    QTreeWidget* ListView2 = nullptr;  // 用户名, 文件夹
    QTreeWidget* ListView3 = nullptr;  // 文件夹
    QLabel* Label1 = nullptr;          // count line
    QPushButton* Command1 = nullptr;   // "查看我的缓存"
    QPushButton* Command7 = nullptr;   // "查看所有用户缓存"
    QPushButton* Command6 = nullptr;   // "复制选中..."
    QPushButton* Command2 = nullptr;   // "删除所选文件"
    QPushButton* Command3 = nullptr;   // "全部删除"
    QPushButton* Command4 = nullptr;   // "关闭"

    CacheViewer& viewer() { return *m_viewer; }

    void Command1_Click();
    void Command7_Click();
    void Command6_Click();
    void Command2_Click();
    void Command3_Click();
    void ListView1_ColumnClick(int column);  // 1..4

private:
    void showLists();
    std::vector<int> selectedRows() const;

    std::unique_ptr<CacheIndex> m_index;
    std::unique_ptr<CacheViewer> m_viewer;
};

// Opens the viewer over parent (window-modal, deleted when closed).
fIEcache* showCacheViewer(QWidget* parent);

} // namespace dh
