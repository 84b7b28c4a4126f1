#pragma once
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
class WebEngineBrowser;

// The search window: query panel, collected links and the embedded browser.
// The work itself (batch, extraction, paging, hand-over) is done by the
// SearchEngine; the window mirrors its controls into the engine and shows
// what the engine announces.
class fWebSearch : public QMainWindow {
    Q_OBJECT
public:
    explicit fWebSearch(QWidget* parent = nullptr);
    ~fWebSearch() override;

    SearchEngine* engine() const { return m_engine.get(); }
    WebEngineBrowser* WebBrowser1 = nullptr;

    // Query panel ("自动提取文档链接").
    QPlainTextEdit* Text1 = nullptr;   // keyword groups, one per line
    QCheckBox* Check3 = nullptr;       // "pdf"
    QCheckBox* Check8 = nullptr;       // "doc"
    QCheckBox* Check9 = nullptr;       // "ppt"
    QCheckBox* Check10 = nullptr;      // "xls"
    QCheckBox* Check6 = nullptr;       // "每一组关键词作为完整关键词搜索"
    QCheckBox* Check5 = nullptr;       // "禁止网页脚本对话框": the browser's Silent
    QComboBox* Combo1 = nullptr;       // rate-limit delay, entries "0" to "120"
    QPushButton* Command1 = nullptr;   // "开始批量搜索提取" / "停止批量搜索"
    QPlainTextEdit* Text2 = nullptr;   // finished searches

    // Links list panel.
    QTreeView* ListView1 = nullptr;    // collected links
    QLabel* Label1 = nullptr;          // row count
    QCheckBox* Check1 = nullptr;       // "删除标题中的空格"
    QCheckBox* Check2 = nullptr;       // "不添加文件类型不明的链接"
    QCheckBox* Check7 = nullptr;       // "自动分析未分析项"
    QPushButton* Command9 = nullptr;   // "加入本页到列表"
    QPushButton* Command4 = nullptr;   // "加入全部到列表" / "停止加入全部"
    QPushButton* Command2 = nullptr;   // "分析下载"
    QPushButton* Command7 = nullptr;   // "导出数据..."

    // Status bar; panel 2 shows the browser's status text.
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusPanel2 = nullptr;

    // Progress panel of the hand-over.
    QFrame* PicPanPrograss = nullptr;
    QLabel* Label11 = nullptr;
    QPushButton* Command5 = nullptr;   // "停止"

    // The pop-up menu "加入" of "分析下载" (not in the menu bar).
    QMenu* menu加入 = nullptr;
    QAction* menu打开Quorvex查询首页 = nullptr;
    QAction* menu打开指定网址 = nullptr;
    QAction* menu后退 = nullptr;
    QAction* menu前进 = nullptr;
    QAction* menu关闭本窗口 = nullptr;
    QAction* menu设置 = nullptr;
    QAction* menu打开下载窗口 = nullptr;
    QAction* menu查看IE浏览器缓存 = nullptr;
    QAction* menu清空IE浏览器缓存 = nullptr;
    QAction* menu网页源码另存为 = nullptr;
    QAction* menu关于 = nullptr;
    QAction* menu使用方法 = nullptr;
    // "清除(&C)", also the links list's pop-up menu.
    QMenu* menu清除 = nullptr;
    QAction* menu清除选中项 = nullptr;
    QAction* menu清除分析成功项 = nullptr;
    QAction* menu清除标题含指定字符项 = nullptr;
    QAction* menu清除标题不含指定字符项 = nullptr;
    QAction* menu清空全部 = nullptr;
    QAction* menu分析未分析项 = nullptr;
    QAction* menu加入分析失败项 = nullptr;
    QAction* menu选中加入 = nullptr;
    QAction* menu全部加入 = nullptr;

    QTimer* Timer1 = nullptr;          // automatic hand-over tick

    // The command handlers, callable from tests as a click would.
    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    void Command9_Click();
    QCoro::Task<void> Check7_Click();
    void Check5_Click();
    void Command7_Click();                 // "导出数据..."
    void menu清除选中项_Click();
    void menu清除分析成功项_Click();
    void menu清除标题含指定字符项_Click();
    void menu清除标题不含指定字符项_Click();
    void menu清空全部_Click();
    QCoro::Task<void> menu网页源码另存为_Click();
    void menu打开指定网址_Click();
    void menu关于_Click();
    void menu使用方法_Click();

    // The smallest window: 9000 by 5000 twips.
    static constexpr int MinWidthPx = 600;
    static constexpr int MinHeightPx = 333;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void Form_Load();
    QWidget* buildQueryPanel(QWidget* parent);
    QWidget* buildListPanel(QWidget* parent);
    void wireEngine();
    void showButtons();
    void buildMenus();
    void wireBrowser();
    void clearLinks(linkops::ClearRule rule);
    void showRowCount();

    std::shared_ptr<SearchEngine> m_engine;
    QSplitter* m_split = nullptr;
};

} // namespace dh
