#pragma once
#include <QMainWindow>

class QComboBox;
class QPlainTextEdit;
class QTimer;
class QSplitter;
class QVBoxLayout;

namespace dh {

// The search window: query panel, collected links and the embedded browser.
class fWebSearch : public QMainWindow {
    Q_OBJECT
public:
    explicit fWebSearch(QWidget* parent = nullptr);
    ~fWebSearch() override;

    // Window flags (true = set).
    bool Navigating = false;
    bool StopBatch = true;
    bool StopAddAll = true;
    bool StopAnalysis = true;
    bool CaptchaHit = false;

    QPlainTextEdit* Text1 = nullptr;  // keyword groups, one per line
    QComboBox* Combo1 = nullptr;      // rate-limit delay, entries "0" to "120"
    QTimer* Timer1 = nullptr;         // automatic hand-over tick

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void Form_Load();
    void buildQueryPanel(QVBoxLayout* into);

    QSplitter* m_split = nullptr;
};

} // namespace dh
