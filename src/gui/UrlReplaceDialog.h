#pragma once
#include "gui/WindowTestFriends.h"
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace dh {

class DownloadListModel;

// "网址批量替换": replaces a piece of text in every download row's address and
// referring page. Opened modally over the download window.
class UrlReplaceDialog : public QDialog {
    Q_OBJECT
public:
    explicit UrlReplaceDialog(DownloadListModel& list, QWidget* parent = nullptr);

    // 替换: the work of the replace button.
    void replaceAll();

private:
    DownloadListModel& m_list;

private:
    DH_WINDOW_TEST_FRIENDS

    QLabel* m_findLabel = nullptr;
    QLineEdit* m_findEdit = nullptr;  // the text to find
    QLabel* m_replaceLabel = nullptr;
    QLineEdit* m_replaceEdit = nullptr;  // the replacement (may be empty)
    QPushButton* m_replaceButton = nullptr;  // 替换
    QPushButton* m_cancelButton = nullptr;  // 取消
};

} // namespace dh
