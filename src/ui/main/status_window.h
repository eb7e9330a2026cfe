#pragma once

#include "session/reports.h"

#include <QColor>
#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;
class QKeyEvent;
class QShowEvent;
class QPushButton;
class QScreen;

namespace quarvel {

// The progress and error window of the device transfers: a progress bar, one status line and
// a close button. It holds no logic beyond closing itself; StatusPresenter drives it.
// Closing it destroys it.
class StatusWindow : public QWidget
{
    Q_OBJECT

public:
    explicit StatusWindow(QWidget* parent = nullptr);

    // The status line's text and colour. The colour is the label's WindowText palette entry.
    void setStatusText(const QString& text, session::StatusColour colour);
    void setStatusColour(session::StatusColour colour);
    // The maximum, when given, is set before the value; values outside the range are clamped.
    void setProgress(int value, std::optional<int> maximum = std::nullopt);
    void enableClose();
    // Cancel, shown while a run can be stopped; it only asks (cancelRequested).
    void setCancelVisible(bool visible);
    QPushButton* comCancel() const { return m_comCancel; }

signals:
    void cancelRequested();

protected:
    // Escape presses Cancel while it shows, and closes the window once its close button is enabled.
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

public:
    QProgressBar* bar() const { return m_bar; }
    QLabel* labelStats() const { return m_labelStats; }
    QPushButton* comExit() const { return m_comExit; }

private:
    // Runs once, when the window is created: position, close button caption and state.
    void load();
    QScreen* currentScreen() const;
    int px(int twips) const;

    QProgressBar* m_bar;
    QLabel* m_labelStats;
    QPushButton* m_comExit;
    QPushButton* m_comCancel;
};

} // namespace quarvel
