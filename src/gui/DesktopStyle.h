#pragma once
// The desktop's own style with three things made sure whatever the theme:
// a focus ring a keyboard user can see, unticked check boxes and radio
// buttons that stand out from a dark background, and placeholder texts that
// can be read (a dark theme that does not name their colour leaves them
// black on black).

#include <QColor>
#include <QProxyStyle>

class QApplication;

namespace dh {

// A colour between fg and bg (share 0 = bg, 1 = fg) with at least the given
// contrast against bg, moving towards fg, then to black or white, as far as needed.
QColor readableOn(const QColor& bg, const QColor& fg, double minContrast, double share = 0.5);

class ReadableStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

// Puts ReadableStyle over the application's style and keeps the placeholder
// colour readable whenever the palette changes (a theme switch).
void installDesktopStyle(QApplication& app);

} // namespace dh
