#pragma once
// A one-line label for texts of any length (paths, addresses, status lines):
// it never asks for more room than a few characters, so a long text cannot
// widen its window past the screen. What does not fit is cut with "…" and
// the whole text is the tool tip; text() is always the whole text.

#include <QLabel>

namespace dh {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // Whether the text is cut at the label's present width.
    bool isElided() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    Qt::TextElideMode m_mode;
};

} // namespace dh
