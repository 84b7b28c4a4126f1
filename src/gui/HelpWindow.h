#pragma once
#include "gui/WindowTestFriends.h"
#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace dh {

// The usage window: a few numbered notes on searching and downloading.
// Modal over the window that opens it; at most one exists.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    ~HelpWindow() override;

    // The notes as the text box shows them.
    static QString usageText();
    // Opens the window modally over parent (or raises the one already open)
    // and returns at once; the window deletes itself when closed.
    static HelpWindow* showModal(QWidget* parent);
    static HelpWindow* openInstance();

private:
    DH_WINDOW_TEST_FRIENDS

    QPlainTextEdit* m_helpText = nullptr;
    QPushButton* m_closeButton = nullptr;  // "关闭"
};

} // namespace dh
