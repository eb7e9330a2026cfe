#pragma once

#include "session/reports.h"
#include "ui/main/file_chooser.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace quarvel {

// Every frame sent and received, one line each with time, direction, hex and meaning: what a
// technician sends to support when a selector misbehaves. It collects while hidden; closing
// only hides it.
class TrafficLogWindow : public QWidget
{
    Q_OBJECT

public:
    // Lines beyond this drop off the top: a long sampling session must not grow without end.
    static constexpr int kMaxLines = 200000;

    explicit TrafficLogWindow(QWidget* parent = nullptr);

    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }
    QString text() const;

public slots:
    void append(const session::TrafficEntry& entry);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void clear();
    void saveAsText();
    // Laying out a line costs more than the exchange it records; while nobody looks, lines
    // wait here and go in together when the window is shown.
    void flushPending();
    void build();

    QStringList m_pending;
    QPlainTextEdit* m_log = nullptr;
    QLabel* m_result = nullptr;
    FileChooser m_chooser;
};

} // namespace quarvel
