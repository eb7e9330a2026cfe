#include "app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QRadialGradient>

namespace quarvel {

QIcon appIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        QRadialGradient gold(QPointF(26, 24), 34);
        gold.setColorAt(0, QColor(0xFF, 0xE9, 0x8A));
        gold.setColorAt(1, QColor(0xC8, 0x93, 0x1E));
        p.setBrush(gold);
        p.setPen(QPen(QColor(0x8C, 0x63, 0x10), 3));
        p.drawEllipse(QPointF(32, 32), 29, 29);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0x8C, 0x63, 0x10), 1.5));
        p.drawEllipse(QPointF(32, 32), 23, 23);
        // The Q is stroked, not set in a font: loading a font engine for the icon alone would
        // cost more at start-up than the rest of the main window.
        p.setPen(QPen(QColor(0x6E, 0x4C, 0x08), 4.5, Qt::SolidLine, Qt::RoundCap));
        p.drawEllipse(QPointF(32, 31), 10, 11);
        p.drawLine(QPointF(36, 37), QPointF(43, 45));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace quarvel
