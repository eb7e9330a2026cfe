#pragma once

#include "link/traffic.h"
#include "main/file_chooser.h"

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
    void append(const quarvel::link::TrafficEntry& entry);
    void clear();
    void saveAsText();

private:
    QPlainTextEdit* m_log;
    QLabel* m_result;
    FileChooser m_chooser;
};

} // namespace quarvel
