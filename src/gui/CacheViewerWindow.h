#pragma once
#include "gui/WindowTestFriends.h"
#include "cache/CacheListing.h"
#include "cache/CacheViewer.h"

#include <QDialog>
#include <memory>

class QLabel;
class QPushButton;
class QThread;
class QTreeWidget;

namespace dh {

// The browser-cache viewer: the current user's cached documents or the cache
// files of all users, with copying out, deleting and clearing.
class CacheViewerWindow : public QDialog {
    Q_OBJECT
public:
    // index and locations default to the embedded browser's cache.
    explicit CacheViewerWindow(QWidget* parent = nullptr, std::unique_ptr<CacheIndex> index = nullptr,
                      std::optional<CacheLocations> locations = std::nullopt);
    ~CacheViewerWindow() override;

    CacheViewer& viewer() { return *m_viewer; }
    // True while a listing runs (the current user's cache, or every user's folders).
    bool listing() const { return m_listing && m_listing->running() && !m_listing->listed(); }
    // True while entries are listed or their bodies checked.
    bool checking() const { return m_listing && m_listing->running(); }
    // True while the bodies of the rows to copy are being decoded.
    bool extracting() const { return m_extract != nullptr; }

    void showMyCache();
    void showAllUsersCache();
    void copySelected();
    void deleteSelected();
    void deleteAll();
    void sortEntriesByColumn(int column);  // 1..8

private:
    void showLists();
    void startListing();
    void refreshRow(int row);
    void openCopyDialog(const std::vector<int>& rows);
    bool busy() const { return listing() || extracting(); }
    std::vector<int> selectedRows() const;

    std::unique_ptr<CacheIndex> m_index;
    std::unique_ptr<CacheViewer> m_viewer;
    std::unique_ptr<CacheListing> m_listing;  // destroyed first: its worker uses the index
    QThread* m_extract = nullptr;             // decodes bodies for a copy; waited for on close

private:
    DH_WINDOW_TEST_FRIENDS

    // URL, TYPE, SIZE(Byte), FilePath, 状态, 站点, 修改时间, 访问时间
    QTreeWidget* m_entriesView = nullptr;
    QTreeWidget* m_usersView = nullptr;  // 用户名, 文件夹
    QTreeWidget* m_foldersView = nullptr;  // 文件夹
    QLabel* m_countLabel = nullptr;          // count line
    QPushButton* m_myCacheButton = nullptr;   // "查看我的缓存"
    QPushButton* m_allUsersCacheButton = nullptr;   // "查看所有用户缓存"
    QPushButton* m_copySelectedButton = nullptr;   // "复制选中..."
    QPushButton* m_deleteSelectedButton = nullptr;   // "删除所选文件"
    QPushButton* m_deleteAllButton = nullptr;   // "全部删除"
    QPushButton* m_closeButton = nullptr;   // "关闭"
};

// Opens the viewer over parent (window-modal, deleted when closed).
CacheViewerWindow* showCacheViewer(QWidget* parent);

} // namespace dh
