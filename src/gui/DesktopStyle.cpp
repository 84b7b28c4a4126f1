#include "gui/DesktopStyle.h"

#include "gui/ListBands.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QStyleOption>

#include <algorithm>
#include <cmath>

namespace dh {

namespace {

QColor mix(const QColor& bg, const QColor& fg, double share)
{
    const auto m = [share](int b, int f) { return int(std::lround(b + (f - b) * share)); };
    return QColor(m(bg.red(), fg.red()), m(bg.green(), fg.green()), m(bg.blue(), fg.blue()));
}

// What the check box and radio outlines must reach against the window (the
// contrast asked of user-interface components).
constexpr double kOutlineContrast = 3.0;
constexpr double kPlaceholderContrast = 3.0;

// Watches for palette changes of the application (the desktop switched to a
// dark theme) and gives the placeholder text a readable colour when the
// palette's own one is not.
class PaletteKeeper : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == qApp && e->type() == QEvent::ApplicationPaletteChange)
            keepPlaceholderReadable();
        return false;
    }

    static void keepPlaceholderReadable()
    {
        QPalette p = QApplication::palette();
        bool changed = false;
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            const QColor base = p.color(group, QPalette::Base);
            const QColor now = p.color(group, QPalette::PlaceholderText);
            // A colour with alpha is drawn over the base.
            const QColor seen = mix(base, QColor(now.red(), now.green(), now.blue()), now.alphaF());
            if (contrastRatio(seen, base) >= kPlaceholderContrast)
                continue;
            p.setColor(group, QPalette::PlaceholderText,
                       readableOn(base, p.color(group, QPalette::Text), kPlaceholderContrast, 0.55));
            changed = true;
        }
        if (changed)
            QApplication::setPalette(p);  // the next change event finds it readable
    }
};

} // namespace

QColor readableOn(const QColor& bg, const QColor& fg, double minContrast, double share)
{
    QColor c = mix(bg, fg, share);
    for (double s = share; s <= 1.0 && contrastRatio(c, bg) < minContrast; s += 0.05)
        c = mix(bg, fg, std::min(1.0, s));
    if (contrastRatio(c, bg) >= minContrast)
        return c;
    // The text colour itself is too close (a broken theme): black or white.
    const QColor extreme =
        contrastRatio(bg, Qt::black) > contrastRatio(bg, Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
    for (double s = 0.0; s <= 1.0; s += 0.05) {
        c = mix(c, extreme, s);
        if (contrastRatio(c, bg) >= minContrast)
            break;
    }
    return c;
}

void ReadableStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const
{
    switch (element) {
    case PE_FrameFocusRect: {
        // A ring in the highlight colour, two pixels wide: the desktop's
        // dotted line or faint tint is easy to lose on a busy window.
        const QColor ring = readableOn(option->palette.color(QPalette::Window),
                                       option->palette.color(QPalette::Highlight), kOutlineContrast, 1.0);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(ring, 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(1, 1, -1, -1), 2, 2);
        painter->restore();
        return;
    }
    case PE_IndicatorCheckBox:
    case PE_IndicatorRadioButton: {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        // An outline the eye finds on any background, over the style's own.
        const QPalette& pal = option->palette;
        const QColor outline = readableOn(pal.color(QPalette::Window), pal.color(QPalette::WindowText),
                                          kOutlineContrast, 0.55);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(option->state & State_Enabled ? outline : mix(pal.color(QPalette::Window), outline, 0.5), 1));
        painter->setBrush(Qt::NoBrush);
        const QRectF r = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        if (element == PE_IndicatorRadioButton)
            painter->drawEllipse(r);
        else
            painter->drawRoundedRect(r, 1.5, 1.5);
        painter->restore();
        return;
    }
    default:
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void installDesktopStyle(QApplication& app)
{
    QApplication::setStyle(new ReadableStyle);
    app.installEventFilter(new PaletteKeeper(&app));
    PaletteKeeper::keepPlaceholderReadable();
}

} // namespace dh
