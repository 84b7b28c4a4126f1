#pragma once
#include <QMainWindow>

class QComboBox;
class QLabel;
class QTimer;
class QTreeView;
class QPushButton;

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

    int DownloadMethod = 2;

    // Refreshes the row count label and the counters panel.
    void refreshCounters();

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Form_Load();
    void MonitorTick();

    DownloadListModel* m_list = nullptr;
};

} // namespace dh
