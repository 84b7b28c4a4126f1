#include "gui/StateIcons.h"

#include "download/DownloadListModel.h"
#include "gui/ListBands.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPainterPath>
#include <QPixmap>

namespace dh {

namespace {
// Drawn on a 16-unit grid at scale times the size, so a 2x screen gets
// sharp pictures; a dark palette gets lighter shades that stand out on it.
QPixmap draw(DownloadState s, bool dark, int scale)
{
    QPixmap pm(16 * scale, 16 * scale);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    const QColor blue = dark ? QColor(110, 170, 255) : QColor(38, 110, 214);
    const QColor green = dark ? QColor(90, 210, 120) : QColor(30, 150, 60);
    const QColor red = dark ? QColor(255, 110, 110) : QColor(215, 35, 35);
    const QColor amber = dark ? QColor(255, 190, 80) : QColor(200, 120, 0);
    switch (s) {
    case DownloadState::Waiting:
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawRoundedRect(QRectF(3, 2, 3.5, 12), 1, 1);
        p.drawRoundedRect(QRectF(9.5, 2, 3.5, 12), 1, 1);
        break;
    case DownloadState::Downloading: {
        QPainterPath path;
        path.moveTo(4, 2);
        path.lineTo(14, 8);
        path.lineTo(4, 14);
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawPath(path);
        break;
    }
    case DownloadState::Done: {
        QPen pen(green, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
        break;
    }
    case DownloadState::Failed: {
        QPen pen(red, 2.6, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        break;
    }
    case DownloadState::Page: {
        // A globe: the row holds a web page, not the document.
        QPen pen(amber, 1.5);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawEllipse(QRectF(5.5, 2, 5, 12));
        p.drawLine(QPointF(2, 8), QPointF(14, 8));
        break;
    }
    }
    return pm;
}

QIcon makeIcon(DownloadState s, bool dark)
{
    QIcon icon;
    for (int scale : {1, 2, 3})
        icon.addPixmap(draw(s, dark, scale));
    return icon;
}
} // namespace

QIcon stateIcon(DownloadState s)
{
    const int i = int(s) - 1;
    if (i < 0 || i > 4)
        return {};
    static QIcon icons[2][5];
    const bool dark = isDarkPalette(QGuiApplication::palette());
    QIcon& icon = icons[dark ? 1 : 0][i];
    if (icon.isNull())
        icon = makeIcon(s, dark);
    return icon;
}

void installStateIcons()
{
    DownloadListModel::setIconProvider([](DownloadState s) { return QVariant(stateIcon(s)); });
}

} // namespace dh
