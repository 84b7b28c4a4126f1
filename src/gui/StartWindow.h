#pragma once
#include "gui/WindowTestFriends.h"
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace dh {

// The start-up window: title, version, and the hub between the two main windows.
// Closing it ends the program.
class StartWindow : public QWidget {
    Q_OBJECT
public:
    // The update check found a newer version: its caption under the version.
    void showLatestVersion(const QString& caption);
    explicit StartWindow(QWidget* parent = nullptr);
    ~StartWindow() override;

    static StartWindow* instance();  // nullptr when not loaded

    // Start-up: caption, show, then the slower steps once the cover is painted.
    void load();

    // Steps that other subsystems supply. Empty ones are skipped.
    static std::function<void(StartWindow*)>& updateCheckHook();   // runs on the update-check timer's tick
    static std::function<void()>& clearCacheHook();           // cache clearing at exit (when the option is on)
    // Shown at the first exit that clears the cache.
    static QString clearCacheOnExitNotice();
    static std::function<void()>& endProcessHook();           // default: QApplication::quit

    bool startupDone() const { return m_startupDone; }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void slowStartupSteps();
    void searchClicked();
    bool m_startupDone = false;
    bool m_exiting = false;

private:
    DH_WINDOW_TEST_FRIENDS

    QPushButton* m_searchButton = nullptr;  // 搜索文档下载
    QPushButton* m_quitButton = nullptr;  // 退出软件
    QLabel* m_titleLabel = nullptr;         // program title
    QLabel* m_versionLabel = nullptr;         // 版本:x.y.z
    QLabel* m_noticeLabel = nullptr;
    QLabel* m_latestVersionLabel = nullptr;    // 最新版本：(hidden until the update check fills it)
    QTimer* m_updateCheckTimer = nullptr;         // one-shot start of the update check
};

} // namespace dh
