#include "gui/DesktopIntegration.h"

#include "app/SettingsStore.h"
#include "gui/ListBands.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QStyle>
#include <QTreeView>
#include <QWidget>

namespace dh {

namespace {
constexpr int kTwipsPerPixel = 15;

QScreen* screenOf(const QWidget* w)
{
    if (w && w->screen())
        return w->screen();
    return QGuiApplication::primaryScreen();
}

int readWhole(SettingsStore& store, const QString& section, const char* key, int def)
{
    return store.getInt(section, QString::fromUtf8(key), def);
}
} // namespace

QRect clampToScreen(const QRect& wanted, const QRect& available)
{
    if (!available.isValid())
        return wanted;
    // Every value is brought inside the screen: a stored size larger than the
    // screen, or a position off it, would open a window nobody can reach.
    const int w = std::clamp(wanted.width(), 1, available.width());
    const int h = std::clamp(wanted.height(), 1, available.height());
    const int x = std::clamp(wanted.x(), available.left(), available.left() + available.width() - w);
    const int y = std::clamp(wanted.y(), available.top(), available.top() + available.height() - h);
    return QRect(x, y, w, h);
}

QString screenSizeText(const QWidget* w)
{
    const QScreen* s = screenOf(w);
    if (!s)
        return QStringLiteral("0*0");
    const QSize sz = s->size();
    return QStringLiteral("%1*%2").arg(sz.width()).arg(sz.height());
}

void saveWindowGeometry(QWidget* window, const QString& section, SettingsStore& store)
{
    if (window->isMaximized()) {
        store.save(section, QStringLiteral("分辨率"), QStringLiteral("0*0"));
        return;
    }
    store.save(section, QStringLiteral("分辨率"), screenSizeText(window));
    const QRect g = window->geometry();
    store.save(section, QStringLiteral("上"), QString::number(g.top() * kTwipsPerPixel));
    store.save(section, QStringLiteral("左"), QString::number(g.left() * kTwipsPerPixel));
    store.save(section, QStringLiteral("宽"), QString::number(g.width() * kTwipsPerPixel));
    store.save(section, QStringLiteral("高"), QString::number(g.height() * kTwipsPerPixel));
}

void restoreWindowGeometry(QWidget* window, const QString& section, SettingsStore& store)
{
    const QString stored = store.get(section, QStringLiteral("分辨率"), QStringLiteral("000"));
    if (stored != screenSizeText(window)) {
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
        return;
    }
    const int top = std::max(0, readWhole(store, section, "上", 100));
    const int left = std::max(0, readWhole(store, section, "左", 100));
    const int width = std::max(4000, readWhole(store, section, "宽", 15000));
    const int height = std::max(3000, readWhole(store, section, "高", 10000));
    window->setWindowState(window->windowState() & ~Qt::WindowMaximized);
    window->setGeometry(clampToScreen(QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                                            height / kTwipsPerPixel),
                                      screenOf(window) ? screenOf(window)->availableGeometry() : QRect()));
}

void placeWindow(QWidget* window, const QSize& wanted, const QWidget* parent)
{
    const QScreen* screen = screenOf(parent ? parent : window);
    const QRect available = screen ? screen->availableGeometry() : QRect();
    // Room for the frame the window manager adds around it: known once the
    // window has been shown, else a title bar and borders of common size.
    QSize frame = window->frameGeometry().size() - window->geometry().size();
    if (frame.isEmpty())
        frame = QSize(16, 40);
    QSize size = wanted.expandedTo(window->minimumSize());
    if (available.isValid())
        size = size.boundedTo(available.size() - frame);
    QRect r(QPoint(), size);
    const QRect around = parent && parent->isVisible() ? parent->frameGeometry() : available;
    if (around.isValid())
        r.moveCenter(around.center());
    window->setGeometry(clampToScreen(r, available));
}

void autoSizeColumns(QTreeView* view)
{
    if (!view || !view->model())
        return;
    const int n = view->model()->columnCount();
    for (int c = 0; c < n; ++c) {
        view->resizeColumnToContents(c);
        const int header = view->header()->sectionSizeHint(c);
        if (view->columnWidth(c) < header)
            view->setColumnWidth(c, header);
    }
}

void stripeListRows(QAbstractItemView* view)
{
    applyListBands(view);  // derived from the palette, so dark themes stay readable
}

void fitDropDownWidth(QComboBox* combo)
{
    if (!combo || !combo->view())
        return;
    QString longest;
    for (int i = 0; i < combo->count(); ++i) {
        const QString t = combo->itemText(i);
        if (t.size() > longest.size())
            longest = t;
    }
    int width = QFontMetrics(combo->font()).horizontalAdvance(longest) + 7;
    if (combo->count() >= 9)
        width += combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (const QScreen* s = screenOf(combo)) {
        const int left = combo->mapToGlobal(QPoint(0, 0)).x();
        const int room = s->geometry().right() - left;
        if (room > 0)
            width = std::min(width, room);
    }
    combo->view()->setMinimumWidth(std::max(width, combo->width()));
}

} // namespace dh
