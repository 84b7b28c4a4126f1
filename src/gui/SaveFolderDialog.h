#pragma once
#include "gui/WindowTestFriends.h"
#include <QCoroTask>
#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace dh {

// The save-location dialog: folder box with history, folder browser, and the
// naming choice. Its result goes into the process-wide saveFolder,
// useUrlFileName and saveDialogCancelled.
class SaveFolderDialog : public QDialog {
    Q_OBJECT
public:
    explicit SaveFolderDialog(QWidget* parent = nullptr);
    ~SaveFolderDialog() override;

    // Shows the dialog modally (over parent) without a nested event loop and
    // resumes when it has closed. The dialog deletes itself.
    static QCoro::Task<void> ask(QWidget* parent);

private:
    void load();
    void browseClicked();
    void okClicked();
    void cancelClicked();

private:
    DH_WINDOW_TEST_FRIENDS

    QComboBox* m_folderCombo = nullptr;       // the folder, editable, with its history
    QPushButton* m_browseButton = nullptr;   // "..."
    QRadioButton* m_originalNameRadio = nullptr;   // "原文件名"
    QRadioButton* m_titleNameRadio = nullptr;   // "文章标题名称"
    QPushButton* m_okButton = nullptr;   // "确定"
    QPushButton* m_cancelButton = nullptr;   // "取消"
    QLabel* m_saveNameLabel = nullptr;          // "保存文件名为："
};

// The folder history on a combo box (the copy dialog uses them too).
void loadFolderHistory(QComboBox* combo, const QString& file);
void saveFolderHistory(QComboBox* combo, const QString& file);

} // namespace dh
