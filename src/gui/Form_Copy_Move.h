#pragma once
#include "utilities/CopyFiles.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace dh {

// The copy dialog: copies FileList into the destination folder with the
// chosen same-name option; the folder joins the shared folder history.
class Form_Copy_Move : public QDialog {
    Q_OBJECT
public:
    explicit Form_Copy_Move(QWidget* parent = nullptr);
    ~Form_Copy_Move() override;

    QStringList FileList;

    QComboBox* Combo1 = nullptr;        // destination folder
    QPushButton* Command3 = nullptr;    // "浏览"
    QRadioButton* Option1[6] = {};      // 1..5, same-name options
    QPushButton* Command1 = nullptr;    // "开始" / "停止"
    QPushButton* Command2 = nullptr;    // "关闭"
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label3 = nullptr;           // current file

    int optionIndex() const;
    bool running() const { return m_run.running(); }
    // The action of Command1; resumes when the run (if one starts) has ended.
    QCoro::Task<void> 执行(bool showMessage);

Q_SIGNALS:
    void runFinished();

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    void Form_Load();
    void Command3_Click();

    CopyRun m_run;
    bool m_closeAfterRun = false;
};

// Opens the copy dialog over parent for the given files (window-modal, deleted
// when closed), with the caption "复制文件：N 个文件...".
Form_Copy_Move* showCopyDialog(QWidget* parent, const QStringList& files);

} // namespace dh
