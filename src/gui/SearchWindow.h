#pragma once
#include "gui/WindowTestFriends.h"
#include "search/LinksOperations.h"

#include <QCoroTask>
#include <QMainWindow>

#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTimer;
class QTreeView;
class QVBoxLayout;

namespace dh {

class SearchEngine;
class SelectedRowFlags;
class WebEngineBrowser;
struct ServiceProfile;

// The search window: query panel, collected links and the embedded browser.
// The work itself (batch, extraction, paging, hand-over) is done by the
// SearchEngine; the window mirrors its controls into the engine and shows
// what the engine announces.
class SearchWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit SearchWindow(QWidget* parent = nullptr);
    ~SearchWindow() override;

    SearchEngine* engine() const { return m_engine.get(); }
    // Uses the profile for the next queries and names it in the caption and menu.
    void applyServiceProfile(const ServiceProfile& profile);
private:
    // The controls: only the window itself and its tests reach them.
    DH_WINDOW_TEST_FRIENDS

    WebEngineBrowser* m_browser = nullptr;

    // Query panel ("自动提取文档链接").
    QPlainTextEdit* m_keywordsEdit = nullptr;              // keyword groups, one per line
    QCheckBox* m_pdfCheck = nullptr;                       // "pdf"
    QCheckBox* m_docCheck = nullptr;                       // "doc"
    QCheckBox* m_pptCheck = nullptr;                       // "ppt"
    QCheckBox* m_xlsCheck = nullptr;                       // "xls"
    QCheckBox* m_exactPhraseCheck = nullptr;               // "每一组关键词作为完整关键词搜索"
    QCheckBox* m_silenceScriptDialogsCheck = nullptr;      // "禁止网页脚本对话框": the browser's Silent
    QComboBox* m_delayCombo = nullptr;                     // rate-limit delay, entries "0" to "120"
    QPushButton* m_batchSearchButton = nullptr;            // "开始批量搜索提取" / "停止批量搜索"
    QPlainTextEdit* m_finishedSearchesEdit = nullptr;      // finished searches

    // Links list panel.
    QTreeView* m_linksView = nullptr;                      // collected links
    QLabel* m_linkCountLabel = nullptr;                    // row count
    QCheckBox* m_stripTitleSpacesCheck = nullptr;          // "删除标题中的空格"
    QCheckBox* m_skipUnknownTypeCheck = nullptr;           // "不添加文件类型不明的链接"
    QCheckBox* m_autoAnalyseCheck = nullptr;               // "自动分析未分析项"
    QPushButton* m_addPageButton = nullptr;                // "加入本页到列表"
    QPushButton* m_addAllButton = nullptr;                 // "加入全部到列表" / "停止加入全部"
    QPushButton* m_analyseButton = nullptr;                // "分析下载"
    QPushButton* m_exportButton = nullptr;                 // "导出数据..."

    // Status bar; panel 2 shows the browser's status text.
    QStatusBar* m_statusBar = nullptr;
    QLabel* m_mainStatusPanel = nullptr;
    QLabel* m_browserStatusPanel = nullptr;

    // Progress panel of the hand-over.
    QFrame* m_handOverProgressPanel = nullptr;
    QLabel* m_handOverProgressLabel = nullptr;
    QPushButton* m_handOverStopButton = nullptr;           // "停止"

    // The pop-up menu "加入" of "分析下载" (not in the menu bar).
    QMenu* m_addMenu = nullptr;
    // 搜索(&S): the panels' commands by keyboard.
    QAction* m_batchSearchAction = nullptr;   // "开始批量搜索提取", Ctrl+Enter
    QAction* m_addPageAction = nullptr;       // "加入本页到列表", Ctrl+Shift+A
    QAction* m_analyseAction = nullptr;       // "分析下载", Ctrl+D
    QAction* m_nextAreaAction = nullptr;      // F6, Ctrl+Tab: keywords → web page → list
    QAction* m_previousAreaAction = nullptr;  // Shift+F6, Ctrl+Shift+Tab
    QAction* m_openSearchPageAction = nullptr;
    QAction* m_openAddressAction = nullptr;
    QAction* m_backAction = nullptr;
    QAction* m_forwardAction = nullptr;
    QAction* m_closeWindowAction = nullptr;
    QAction* m_optionsAction = nullptr;
    QAction* m_downloadWindowAction = nullptr;
    QAction* m_cacheViewerAction = nullptr;
    QAction* m_clearBrowserCacheAction = nullptr;
    QAction* m_savePageSourceAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_howToUseAction = nullptr;
    // "清除(&C)", also the links list's pop-up menu.
    QMenu* m_removeMenu = nullptr;
    QAction* m_removeSelectedAction = nullptr;
    QAction* m_removeAnalysedAction = nullptr;
    QAction* m_removeTitleContainingAction = nullptr;
    QAction* m_removeTitleNotContainingAction = nullptr;
    QAction* m_removeAllAction = nullptr;
    QAction* m_analyseUnanalysedAction = nullptr;
    QAction* m_addFailedAction = nullptr;
    QAction* m_addSelectedAction = nullptr;
    QAction* m_addAllAction = nullptr;

    QTimer* m_autoAnalyseTimer = nullptr;                  // automatic hand-over tick

public:

    // Shows the status bar with text in the browser's panel.
    void showBrowserStatus(const QString& text);

    // The command handlers, callable from tests as a click would.
    // Moves the keyboard focus to the next (+1) or previous (-1) working area.
    void focusArea(int step);
    void batchSearchClicked();             // 开始批量搜索提取 / 停止批量搜索
    void analyseClicked();                 // 分析下载
    void addAllClicked();                  // 加入全部到列表 / 停止加入全部
    void addPageClicked();                 // 加入本页到列表
    QCoro::Task<void> autoAnalyseToggled();  // 自动分析未分析项
    void silenceScriptDialogsToggled();    // 禁止网页脚本对话框
    void exportClicked();                  // 导出数据...
    void removeSelected();                 // 清除选中项
    void removeAnalysed();                 // 清除分析成功项
    void removeTitleContaining();          // 清除标题含指定字符项
    void removeTitleNotContaining();       // 清除标题不含指定字符项
    void removeAll();                      // 清空全部
    QCoro::Task<void> savePageSource();    // 网页源码另存为
    void openAddress();                    // 打开指定网址
    void showAbout();                      // 关于
    void showHowToUse();                   // 使用方法

    // The smallest window: 9000 by 5000 twips.
    static constexpr int minWidthPx = 600;
    static constexpr int minHeightPx = 333;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void load();
    QWidget* buildQueryPanel(QWidget* parent);
    QWidget* buildListPanel(QWidget* parent);
    void wireEngine();
    void showButtons();
    void buildMenus();
    void wireBrowser();
    void clearLinks(linkops::ClearRule rule);
    void showRowCount();

    std::shared_ptr<SearchEngine> m_engine;
    SelectedRowFlags* m_selectedLinks = nullptr;  // the links view's selection, row by row
    QSplitter* m_split = nullptr;
};

} // namespace dh
