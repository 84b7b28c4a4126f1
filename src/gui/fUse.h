#pragma once
#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace dh {

// The usage window: a few numbered notes on searching and downloading.
// Modal over the window that opens it; at most one exists.
class fUse : public QDialog {
    Q_OBJECT
public:
    explicit fUse(QWidget* parent = nullptr);
    ~fUse() override;

    // The notes as the text box shows them.
    static QString usageText();
    // Opens the window modally over parent (or raises the one already open)
    // and returns at once; the window deletes itself when closed.
    static fUse* showModal(QWidget* parent);
    static fUse* openInstance();

    QPlainTextEdit* m_helpText = nullptr;
    QPushButton* m_closeButton = nullptr;  // "关闭"
};

} // namespace dh
