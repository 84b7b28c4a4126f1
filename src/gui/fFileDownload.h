#pragma once
#include "download/DownloadHost.h"
#include "download/DownloadWindowState.h"
#include "download/Naming.h"

#include <QMainWindow>

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
    QAction* menu下载全部 = nullptr;
    QAction* menu停止下载 = nullptr;
    QAction* menu退出本下载窗口 = nullptr;
    QAction* menu资料检索分析窗口 = nullptr;
    QAction* menu设置 = nullptr;
    QAction* menu自动定位到下载项 = nullptr;
    QAction* menu打开文件判断类型 = nullptr;
    QAction* menu检查并纠正磁盘文件类型 = nullptr;
    QAction* menu检查文件是否存在 = nullptr;

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
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Form_Load();
    void buildMenus();
    void showMethod();

    DownloadListModel* m_list = nullptr;
    DownloadScheduler* m_scheduler = nullptr;
    TransferMonitor* m_monitor = nullptr;
};

} // namespace dh
