#pragma once
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace dh {

// The start-up window: title, version, and the hub between the two main windows.
class fCover : public QWidget {
    Q_OBJECT
public:
    explicit fCover(QWidget* parent = nullptr);
    ~fCover() override;

    static fCover* instance();  // nullptr when not loaded

    QPushButton* Command1 = nullptr;  // 搜索文档下载
    QPushButton* Command3 = nullptr;  // 退出软件
    QLabel* Label2 = nullptr;         // 版本:x.y.z
    QLabel* LabelNotice = nullptr;
    QLabel* LabelLatest = nullptr;    // 最新版本：(hidden until the update check fills it)
    QTimer* Timer1 = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;
};

} // namespace dh
