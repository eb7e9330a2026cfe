#pragma once

#include <QWidget>

namespace quarvel {

// The main window's picture: a coin selector with a coin on its way into the slot, drawn to
// whatever size the window gives it.
class CoinPicture : public QWidget
{
    Q_OBJECT

public:
    explicit CoinPicture(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {300, 330}; }
    QSize minimumSizeHint() const override { return {220, 240}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quarvel
