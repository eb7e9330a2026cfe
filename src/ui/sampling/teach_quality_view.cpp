#include "ui/sampling/teach_quality_view.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace quarvel {

namespace {

constexpr int kPlotWidth = 72;
constexpr int kPlotHeight = 30;
constexpr int kGap = 4;
constexpr int kDot = 3;
constexpr int kCross = 2;
const QColor kKept(0x20, 0x20, 0x20);
const QColor kDropped(0xA0, 0xA0, 0xA0);
const QColor kReference(0x00, 0x00, 0xFF);
const QColor kFrame(0xC8, 0xC8, 0xC8);

} // namespace

TeachQualityView::TeachQualityView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TeachQualityView::setQuality(std::optional<sampling::TeachQuality> quality)
{
    m_quality = std::move(quality);
    setToolTip(m_quality ? tr("Samples of the last run: dots kept, crosses dropped, line the reference")
                         : QString());
    setAccessibleDescription(m_quality ? spreadText() : QString());
    update();
}

QString TeachQualityView::spreadText() const
{
    if (!m_quality) return {};
    return QStringLiteral("spread Y %1 dH %2").arg(m_quality->ySpread).arg(m_quality->dhSpread);
}

QSize TeachQualityView::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(QStringLiteral("spread Y 99 dH 99"));
    return {4 * (kPlotWidth + kGap) + textWidth + kGap, kPlotHeight};
}

void TeachQualityView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int top = (height() - kPlotHeight) / 2;
    for (std::size_t i = 0; i < sampling::kQuantities.size(); ++i) {
        const QRect box(static_cast<int>(i) * (kPlotWidth + kGap), top, kPlotWidth, kPlotHeight);
        painter.setPen(kFrame);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        if (m_quality) paintSeries(painter, box, sampling::kQuantities[i], m_quality->series[i]);
    }
    if (!m_quality) return;
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect textBox(4 * (kPlotWidth + kGap), 0, width() - 4 * (kPlotWidth + kGap), height());
    painter.drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft, spreadText());
}

void TeachQualityView::paintSeries(QPainter& painter, const QRect& box, sampling::Quantity quantity,
                                   const sampling::QualitySeries& series) const
{
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.75));
    painter.setFont(small);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(box.adjusted(2, 0, 0, 0), Qt::AlignTop | Qt::AlignLeft,
                     QString::fromLatin1(sampling::quantityName(quantity)));
    if (series.values.empty()) return;

    // The vertical scale spans the samples and the reference, never less than a few units, so
    // twelve equal values still sit in the middle instead of on the frame.
    const auto [low, high] = std::minmax_element(series.values.begin(), series.values.end());
    int lo = std::min(*low, series.reference);
    int hi = std::max(*high, series.reference);
    if (hi - lo < 4) {
        const int mid = (hi + lo) / 2;
        lo = mid - 2;
        hi = mid + 2;
    }
    const QRect plot = box.adjusted(14, 4, -4, -4);
    const auto yOf = [&](int v) {
        return plot.bottom() - (static_cast<double>(v - lo) / (hi - lo)) * plot.height();
    };
    const std::size_t n = series.values.size();
    const auto xOf = [&](std::size_t k) {
        return plot.left() +
               (n == 1 ? 0.0 : static_cast<double>(k) * plot.width() / static_cast<double>(n - 1));
    };

    painter.setPen(QPen(kReference, 1));
    painter.drawLine(QPointF(plot.left(), yOf(series.reference)),
                     QPointF(plot.right(), yOf(series.reference)));

    for (std::size_t k = 0; k < n; ++k) {
        const QPointF p(xOf(k), yOf(series.values[k]));
        if (k < series.dropped.size() && series.dropped[k]) {
            painter.setPen(QPen(kDropped, 1.2));
            painter.drawLine(p + QPointF(-kCross, -kCross), p + QPointF(kCross, kCross));
            painter.drawLine(p + QPointF(-kCross, kCross), p + QPointF(kCross, -kCross));
        } else {
            painter.setPen(Qt::NoPen);
            painter.setBrush(kKept);
            painter.drawEllipse(p, kDot / 2.0 + 0.5, kDot / 2.0 + 0.5);
            painter.setBrush(Qt::NoBrush);
        }
    }
}

} // namespace quarvel
