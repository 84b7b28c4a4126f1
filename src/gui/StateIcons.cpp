#include "gui/StateIcons.h"

#include "download/DownloadListModel.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace dh {

namespace {
QPixmap draw(DownloadState s)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue(38, 110, 214);
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
        QPen pen(QColor(30, 150, 60), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
        break;
    }
    case DownloadState::Failed: {
        QPen pen(QColor(215, 35, 35), 2.6, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        break;
    }
    }
    return pm;
}
} // namespace

QIcon stateIcon(DownloadState s)
{
    static const QIcon icons[4] = {QIcon(draw(DownloadState::Waiting)), QIcon(draw(DownloadState::Downloading)),
                                   QIcon(draw(DownloadState::Done)), QIcon(draw(DownloadState::Failed))};
    const int i = int(s) - 1;
    if (i < 0 || i > 3)
        return {};
    return icons[i];
}

void installStateIcons()
{
    DownloadListModel::setIconProvider([](DownloadState s) { return QVariant(stateIcon(s)); });
}

} // namespace dh
