#include "gui/ListBands.h"

#include "gui/DesktopIntegration.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QPalette>

#include <cmath>

namespace dh {

namespace {
double channel(double c)
{
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c)
{
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

QColor blend(const QColor& a, const QColor& b, double share)
{
    return QColor::fromRgbF(float(a.redF() * (1 - share) + b.redF() * share),
                            float(a.greenF() * (1 - share) + b.greenF() * share),
                            float(a.blueF() * (1 - share) + b.blueF() * share));
}

constexpr double kReadable = 4.5;

// Re-derives the bands when the application palette (the desktop theme) changes.
class BandFollower : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        // A new theme reaches the view as a palette change propagated from
        // its window; the bands are re-derived only when they would differ,
        // so the change made here does not come back round.
        if (e->type() == QEvent::PaletteChange || e->type() == QEvent::ApplicationPaletteChange) {
            auto* view = static_cast<QAbstractItemView*>(watched);
            const ListBandColours c = listBandColours(QApplication::palette(view));
            const QPalette& now = view->palette();
            if (now.color(QPalette::Base) != c.first || now.color(QPalette::AlternateBase) != c.second
                || now.color(QPalette::Text) != c.text)
                applyListBands(view);
        }
        return false;
    }
};
} // namespace

double contrastRatio(const QColor& a, const QColor& b)
{
    double la = luminance(a), lb = luminance(b);
    if (la < lb)
        std::swap(la, lb);
    return (la + 0.05) / (lb + 0.05);
}

bool isDarkPalette(const QPalette& palette)
{
    return luminance(palette.color(QPalette::Active, QPalette::Base)) < 0.4;
}

ListBandColours listBandColours(const QPalette& palette)
{
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    QColor text = palette.color(QPalette::Active, QPalette::Text);
    ListBandColours out;
    if (!isDarkPalette(palette)) {
        out.first = kBandGreen;
        out.second = Qt::white;
    } else {
        // A dark base: the green shows as a tint of the base itself.
        out.first = blend(base, QColor(60, 170, 95), 0.18);
        out.second = base;
    }
    const auto worst = [&](const QColor& t) { return std::min(contrastRatio(t, out.first), contrastRatio(t, out.second)); };
    if (worst(text) < kReadable)
        text = worst(Qt::black) >= worst(Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
    out.text = text;
    return out;
}

void applyListBands(QAbstractItemView* view)
{
    if (!view)
        return;
    // The palette the theme gives this kind of widget, not the one set here before.
    QPalette p = QApplication::palette(view);
    const ListBandColours c = listBandColours(p);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::Base, c.first);
        p.setColor(g, QPalette::AlternateBase, c.second);
        p.setColor(g, QPalette::Text, c.text);
    }
    view->setPalette(p);
    view->setAlternatingRowColors(true);
    // Looked up by name: the follower has no meta-object of its own to cast to.
    const QString follower = QStringLiteral("listBandFollower");
    if (!view->findChild<QObject*>(follower, Qt::FindDirectChildrenOnly)) {
        auto* f = new BandFollower(view);
        f->setObjectName(follower);
        view->installEventFilter(f);
    }
}

} // namespace dh
