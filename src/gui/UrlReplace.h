#pragma once
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace dh {

class DownloadListModel;

// "网址批量替换": replaces a piece of text in every download row's address and
// referring page. Opened modally over the download window.
class UrlReplace : public QDialog {
    Q_OBJECT
public:
    explicit UrlReplace(DownloadListModel& list, QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;  // the text to find
    QLabel* Label2 = nullptr;
    QLineEdit* Text2 = nullptr;  // the replacement (may be empty)
    QPushButton* Command1 = nullptr;  // 替换
    QPushButton* Command2 = nullptr;  // 取消

    // 替换: the work of Command1.
    void replaceAll();

private:
    DownloadListModel& m_list;
};

} // namespace dh
