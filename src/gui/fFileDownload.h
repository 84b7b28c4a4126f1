#pragma once
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

namespace dh {

class DownloadListModel;

// The download window: the job list, the scheduler's controls and the status bar.
class fFileDownload : public QMainWindow {
    Q_OBJECT
public:
    explicit fFileDownload(QWidget* parent = nullptr);
    ~fFileDownload() override;

    DownloadListModel* list() const { return m_list; }

    QTreeView* ListView3 = nullptr;  // the download list
    QLabel* Label1 = nullptr;        // "N条"
    QLabel* Label7 = nullptr;        // "下载方式：N"
    QComboBox* Combo1 = nullptr;     // thread count "1".."6"
    QComboBox* Combo2 = nullptr;     // pause between files "0".."600"
    QTimer* Timer_Down = nullptr;    // scheduler tick
    QTimer* Timer1 = nullptr;        // monitor tick
    QTimer* Timer2 = nullptr;        // login page refresh
    QLabel* StatusPanel[5] = {};     // status-bar panels 1..4 (index 0 unused)

    QRadioButton* Option1 = nullptr;  // 跳过
    QRadioButton* Option2 = nullptr;  // 覆盖
    QRadioButton* Option3 = nullptr;  // 重命名
    QCheckBox* Check6 = nullptr;      // 声音提示

    QAction* menu资料检索分析窗口 = nullptr;
    QAction* menu打开文件判断类型 = nullptr;
    QAction* menu检查并纠正磁盘文件类型 = nullptr;
    QAction* menu检查文件是否存在 = nullptr;

    // Transfer state shared by the scheduler, the transfers and the list commands.
    DownloadWindowState State;
    int& DownloadMethod = State.downloadMethod;

    // The same-name policy chosen by the option buttons right now.
    SameNamePolicy sameNamePolicy() const;
    void setSameNamePolicy(SameNamePolicy p);
    // Plays a cue when "声音提示" is ticked.
    void cue(int number);

    // Refreshes the row count label and the counters panel.
    void refreshCounters();

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Form_Load();
    void buildMenus();
    void MonitorTick();

    DownloadListModel* m_list = nullptr;
};

} // namespace dh
