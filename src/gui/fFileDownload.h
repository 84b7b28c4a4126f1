#pragma once
#include "download/DownloadHost.h"
#include "download/DownloadWindowState.h"
#include "download/ListOperations.h"
#include "download/Naming.h"

#include <QMainWindow>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QTimer;
class QTreeView;
class QPushButton;
class QRadioButton;
class QCheckBox;
class QAction;
class QMenu;

namespace dh {

class DownloadListModel;
class DownloadScheduler;
class TransferMonitor;
class MethodOneTransfer;

// The download window: the job list, the scheduler's and the monitor's
// controls and the status bar. It is the download engine's host: the engine
// reads the window's options through the DownloadHost interface.
class fFileDownload : public QMainWindow, public DownloadHost {
    Q_OBJECT
public:
    explicit fFileDownload(QWidget* parent = nullptr);
    ~fFileDownload() override;

    DownloadListModel* list() const { return m_list; }
    DownloadScheduler* scheduler() const { return m_scheduler; }
    TransferMonitor* monitor() const { return m_monitor; }

    QTreeView* ListView3 = nullptr;  // the download list
    QLabel* Label1 = nullptr;        // "N条"
    QLabel* Label7 = nullptr;        // "下载方式：N"
    QComboBox* Combo1 = nullptr;     // thread count "1".."6"
    QComboBox* Combo2 = nullptr;     // pause between files "0".."600"
    QTimer* Timer_Down = nullptr;    // scheduler tick (the scheduler's timer)
    QTimer* Timer1 = nullptr;        // monitor tick (the monitor's timer)
    QTimer* Timer2 = nullptr;        // login page refresh
    QLabel* StatusPanel[5] = {};     // status-bar panels 1..4 (index 0 unused)

    QPushButton* Command4 = nullptr;   // 开始下载
    QPushButton* Command31 = nullptr;  // 停止下载
    QPushButton* Command26 = nullptr;  // 切换 (download method)

    QRadioButton* Option1 = nullptr;  // 跳过
    QRadioButton* Option2 = nullptr;  // 覆盖
    QRadioButton* Option3 = nullptr;  // 重命名
    QCheckBox* Check6 = nullptr;      // 声音提示

    // Monitor options.
    QCheckBox* Check4 = nullptr;  // 当有待下载项时，自动启动下载
    QCheckBox* Check3 = nullptr;  // 自动重新下载：
    QComboBox* Combo4 = nullptr;  // what the automatic re-download resets
    QCheckBox* Check5 = nullptr;  // 有5个以上下载出错或者网页文件，就停止下载
    QLabel* Shape1 = nullptr;     // shown while the scheduler runs

    QMenu* menu下载 = nullptr;  // 列表操作(&D), also the list's context menu
    QAction* menu全选专利列表 = nullptr;
    QAction* menu全不选 = nullptr;
    QAction* menu随机排序列表 = nullptr;
    QAction* menu自动列宽 = nullptr;
    QMenu* menu重新下载 = nullptr;
    QAction* menu重新下载选中项 = nullptr;
    QAction* menu重新下载出错项 = nullptr;
    QAction* menu重新下载文件类型为HTM和HTML项 = nullptr;
    QAction* menu重新下载出错项和网页项 = nullptr;
    QAction* menu重新下载文件大小小于指定数字的项 = nullptr;
    QMenu* menu清除 = nullptr;
    QAction* menu清除选中项 = nullptr;
    QAction* menu清除全部出错项 = nullptr;
    QAction* menu清除完成项 = nullptr;
    QAction* menu清空 = nullptr;
    QMenu* menu删除 = nullptr;
    QAction* menu删除网页类型文件项 = nullptr;
    QAction* menu删除出错项 = nullptr;
    QAction* menu下载全部 = nullptr;
    QAction* menu停止下载 = nullptr;
    QAction* menu取消下载选中项 = nullptr;
    QAction* menu打开下载文件 = nullptr;
    QAction* menu打开文件所在文件夹 = nullptr;
    QAction* menu用记事本打开文件 = nullptr;
    QAction* menu复制名称 = nullptr;
    QAction* menu批量替换网址 = nullptr;
    QAction* menu打开网址 = nullptr;
    QMenu* menu导出名称 = nullptr;
    QAction* menu导出全部名称 = nullptr;
    QAction* menu导出未完成项名称 = nullptr;
    QAction* menu退出本下载窗口 = nullptr;
    QAction* menu资料检索分析窗口 = nullptr;
    QAction* menu设置 = nullptr;
    QAction* menu自动定位到下载项 = nullptr;
    QAction* menu打开文件判断类型 = nullptr;
    QAction* menu检查并纠正磁盘文件类型 = nullptr;
    QAction* menu检查文件是否存在 = nullptr;
    QAction* menu清空IE浏览器缓存 = nullptr;

    // Transfer state shared by the scheduler, the transfers and the list commands.
    DownloadWindowState State;
    int& DownloadMethod = State.downloadMethod;

    // The same-name policy chosen by the option buttons right now.
    SameNamePolicy sameNamePolicy() const override;
    void setSameNamePolicy(SameNamePolicy p);
    // Plays a cue when "声音提示" is ticked.
    void cue(int number) override;

    // Refreshes the row count label and the counters panel.
    void refreshCounters();

    // The commands of the scheduler.
    void StartDownloading();
    void StopDownloading();
    // Command26: switches between method one and method two.
    void switchDownloadMethod();

    // --- list commands ----------------------------------------------------------
    // Selected rows (0-based, list order) and the row the single-row commands
    // act on (the current row when selected, else the first selected; -1: none).
    std::vector<int> selectedRows() const;
    int selectedItemRow() const;
    // The selected row's file, or "" after telling the user it does not exist.
    QString selectedExistingFile();
    void selectAllRows();
    void selectNoRows();
    // 随机排序列表(打乱); shuffleRandom (1..remaining) replaces the random source.
    void 随机排序列表();
    std::function<int(int)> shuffleRandom;
    void autoSizeListColumns();
    void redownload(RedownloadFilter filter);
    // 文件大小小于指定数字的项: asks for the number first.
    void redownloadSmallFiles();
    void removeSelectedRows();
    void removeRowsInState(DownloadState state);
    void clearAllRows();
    void deleteFiles(DeleteFilter filter);
    void cancelSelectedRows();
    // A click on a column header.
    void sortByColumn(int column);
    bool sortDescending() const { return m_sortDescending; }
    // Enables the list menu's items for a right-click (guard B).
    void prepareListMenu();

    // --- opening, exporting, addresses -------------------------------------------
    void openDownloadedFile(const QString& path);
    void 打开下载文件();
    void 打开所在文件夹();
    void 用记事本打开文件();
    void 复制名称();
    void 打开网址();
    void exportNames(bool onlyUnfinished);
    // Opens UrlReplace modally; tests call UrlReplace directly.
    void 批量替换网址();
    void rowDoubleClicked(int row);
    void rowClicked(int row);
    void statusPanelClicked(int panel);

    // --- DownloadHost ---------------------------------------------------------
    int pauseSeconds() const override;
    int slotCount() const override;
    bool autoLocate() const override;
    void scrollToRow(int row) override;
    void setStatusText(int panel, const QString& text) override;
    bool autoStart() const override;
    bool autoRedownload() const override;
    int redownloadChoice() const override;
    bool errorStop() const override;
    void clearAutoOptions() override;
    void setStartEnabled(bool enabled) override;
    void setRunningIndicator(bool on) override;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Form_Load();
    void buildMenus();
    void showMethod();
    // Runs a walk over the list with its view frozen, redrawn once afterwards.
    template <typename F>
    void frozen(F&& walk);
    void showRowCount();
    // Status texts and row repaints during a run: the first change shows at
    // once, later ones within the same short window are shown together when
    // it ends, so that thousands of small files do not repaint the window
    // for every file and every progress step.
    void rowsChanged(int first, int last);
    void flushDisplay();

    bool m_sortDescending = true;  // the first header click sorts ascending

    DownloadListModel* m_list = nullptr;
    DownloadScheduler* m_scheduler = nullptr;
    TransferMonitor* m_monitor = nullptr;
    QTimer* m_displayTimer = nullptr;
    bool m_rowUpdatesHeld = false;  // the view's own dataChanged connection is replaced
    QString m_pendingStatus[5];
    bool m_statusPending[5] = {};
    int m_dirtyFirst = -1;
    int m_dirtyLast = -1;
};

} // namespace dh
