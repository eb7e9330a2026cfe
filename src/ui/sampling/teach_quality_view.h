#pragma once

#include "sampling/teach_quality.h"

#include <QWidget>

#include <optional>

namespace quarvel {

// The samples of one channel's last run, as four small plots (A, X, Y, dH): kept samples as
// dots, the two highest and two lowest as crosses, the reference as a line, then the Y and dH
// spread figures. Empty until the channel has a finished run.
class TeachQualityView : public QWidget
{
    Q_OBJECT

public:
    explicit TeachQualityView(QWidget* parent = nullptr);

    void setQuality(std::optional<sampling::TeachQuality> quality);
    const std::optional<sampling::TeachQuality>& quality() const { return m_quality; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintSeries(class QPainter& painter, const QRect& box, sampling::Quantity quantity,
                     const sampling::QualitySeries& series) const;
    QString spreadText() const;

    std::optional<sampling::TeachQuality> m_quality;
};

} // namespace quarvel
