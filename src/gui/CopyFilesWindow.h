#pragma once
#include "gui/WindowTestFriends.h"
#include "utilities/CopyFiles.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace dh {

// The copy dialog: copies files into the destination folder with the
// chosen same-name option; the folder joins the shared folder history.
class CopyFilesWindow : public QDialog {
    Q_OBJECT
public:
    explicit CopyFilesWindow(QWidget* parent = nullptr);
    ~CopyFilesWindow() override;

    QStringList files;

    int optionIndex() const;
    bool running() const { return m_run.running(); }
    // The action of the start button (开始/停止); resumes when the run (if one starts) has ended.
    QCoro::Task<void> runCopy(bool showMessage);

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    void load();
    void browseClicked();

    CopyRun m_run;
    bool m_closeAfterRun = false;

private:
    DH_WINDOW_TEST_FRIENDS

    QComboBox* m_destinationCombo = nullptr;        // destination folder
    QPushButton* m_browseButton = nullptr;    // "浏览"
    QRadioButton* m_sameNameRadios[6] = {};      // 1..5, same-name options
    QPushButton* m_startButton = nullptr;    // "开始" / "停止"
    QPushButton* m_closeButton = nullptr;    // "关闭"
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_currentFileLabel = nullptr;           // current file
};

// Opens the copy dialog over parent for the given files (window-modal, deleted
// when closed), with the caption "复制文件：N 个文件...".
CopyFilesWindow* showCopyDialog(QWidget* parent, const QStringList& files);

} // namespace dh
