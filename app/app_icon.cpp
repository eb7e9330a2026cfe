#include "app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QRadialGradient>

namespace quarvel {

QIcon appIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
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
        QFont font = p.font();
        font.setPixelSize(30);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(0x6E, 0x4C, 0x08));
        p.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter, QStringLiteral("Q"));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace quarvel
