#include "ui/main/coin_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>

namespace quarvel {

CoinPicture::CoinPicture(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Picture1"));
    setAccessibleName(QStringLiteral("Coin selector picture"));
}

void CoinPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    // Drawn on a 100 x 110 canvas, centred.
    const double scale = side / 110.0;
    p.translate((width() - 100 * scale) / 2, (height() - 110 * scale) / 2);
    p.scale(scale, scale);

    QLinearGradient sky(0, 0, 0, 110);
    sky.setColorAt(0, QColor(0xE8, 0xF0, 0xFA));
    sky.setColorAt(1, QColor(0xC4, 0xD4, 0xE8));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(0, 0, 100, 110), 6, 6);

    // The selector's body with its front plate.
    QLinearGradient body(20, 0, 80, 0);
    body.setColorAt(0, QColor(0x4A, 0x55, 0x62));
    body.setColorAt(0.5, QColor(0x70, 0x7D, 0x8C));
    body.setColorAt(1, QColor(0x3E, 0x47, 0x52));
    p.setBrush(body);
    p.setPen(QPen(QColor(0x26, 0x2C, 0x33), 0.8));
    p.drawRoundedRect(QRectF(22, 30, 56, 66), 4, 4);
    p.setBrush(QColor(0x2B, 0x31, 0x38));
    p.drawRoundedRect(QRectF(30, 38, 40, 7), 2, 2); // coin slot
    p.setBrush(QColor(0x9A, 0xA6, 0xB3));
    p.drawRoundedRect(QRectF(30, 52, 40, 22), 2, 2); // label plate
    p.setPen(QPen(QColor(0x40, 0x48, 0x52), 1.2));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(34, 57 + i * 6), QPointF(66 - i * 7, 57 + i * 6));
    // Status lamp and the connector of the serial line.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3C, 0xD0, 0x5A));
    p.drawEllipse(QPointF(34, 84), 2.5, 2.5);
    p.setBrush(QColor(0xC9, 0xA2, 0x3A));
    p.drawRect(QRectF(56, 81, 14, 6));
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable(QPointF(63, 87));
    cable.cubicTo(QPointF(63, 100), QPointF(85, 96), QPointF(92, 106));
    p.drawPath(cable);

    // A coin dropping into the slot, with its motion lines.
    QRadialGradient gold(QPointF(47, 15), 14);
    gold.setColorAt(0, QColor(0xFF, 0xE9, 0x8A));
    gold.setColorAt(1, QColor(0xC8, 0x93, 0x1E));
    p.setBrush(gold);
    p.setPen(QPen(QColor(0x8C, 0x63, 0x10), 1));
    p.drawEllipse(QPointF(50, 18), 11, 11);
    p.setPen(QPen(QColor(0x8C, 0x63, 0x10), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(50, 18), 8, 8);
    // Stroked like the program's icon: a font engine of its own would slow the first paint.
    p.setPen(QPen(QColor(0x6E, 0x4C, 0x08), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawEllipse(QPointF(50, 17.6), 3.6, 4);
    p.drawLine(QPointF(51.6, 19.8), QPointF(54.2, 22.6));
    p.setPen(QPen(QColor(0x60, 0x70, 0x88), 1, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(30 + i * 4, 6 + i * 3), QPointF(34 + i * 4, 12 + i * 3));
}

} // namespace quarvel
