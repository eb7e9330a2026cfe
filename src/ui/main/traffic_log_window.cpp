#include "ui/main/traffic_log_window.h"

#include "session/document_files.h"
#include "ui/accessible_roles.h"
#include "ui/main/status_window.h"
#include "ui/status_colour.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quarvel {

TrafficLogWindow::TrafficLogWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), m_chooser(dialogFileChooser())
{
    setObjectName(QStringLiteral("TrafficLog"));
    exposeAsWindow(this);
    setWindowTitle(QStringLiteral("Traffic log"));
    resize(640, 420);
}

void TrafficLogWindow::build()
{
    // Built on first show: the program starts with this window, but most runs never open it.
    if (m_log) return;
    m_log = new QPlainTextEdit(this);
    m_result = new QLabel(this);
    m_log->setObjectName(QStringLiteral("TextTraffic"));
    m_log->setAccessibleName(QStringLiteral("Line traffic"));
    m_log->setReadOnly(true);
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log->setMaximumBlockCount(kMaxLines);
    m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* clearButton = new QPushButton(QStringLiteral("&Clear"), this);
    clearButton->setObjectName(QStringLiteral("ComClear"));
    auto* saveButton = new QPushButton(QStringLiteral("&Save as text\u2026"), this);
    saveButton->setObjectName(QStringLiteral("ComSaveLog"));
    m_result->setObjectName(QStringLiteral("LabelResult"));
    connect(clearButton, &QPushButton::clicked, this, &TrafficLogWindow::clear);
    connect(saveButton, &QPushButton::clicked, this, &TrafficLogWindow::saveAsText);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clearButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(m_result, 1);
    auto* column = new QVBoxLayout(this);
    column->addWidget(m_log, 1);
    column->addLayout(buttons);
}

QString TrafficLogWindow::text() const
{
    QString all = m_log ? m_log->toPlainText() : QString();
    if (!m_pending.isEmpty()) {
        if (!all.isEmpty()) all += QLatin1Char('\n');
        all += m_pending.join(QLatin1Char('\n'));
    }
    return all;
}

void TrafficLogWindow::append(const session::TrafficEntry& entry)
{
    const QString line = QString::fromStdString(session::formatTraffic(entry));
    if (m_log && isVisible()) {
        m_log->appendPlainText(line);
        return;
    }
    m_pending.append(line);
    if (m_pending.size() > kMaxLines) m_pending.removeFirst();
}

void TrafficLogWindow::showEvent(QShowEvent* event)
{
    build();
    flushPending();
    QWidget::showEvent(event);
}

void TrafficLogWindow::flushPending()
{
    if (m_pending.isEmpty()) return;
    m_log->appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
}

void TrafficLogWindow::clear()
{
    m_pending.clear();
    if (!m_log) return;
    m_log->clear();
    m_result->clear();
}

void TrafficLogWindow::saveAsText()
{
    build();
    m_chooser(this, FileChoice::Save, QStringLiteral("save traffic log"),
              QStringLiteral("Text (*.txt);;All (*)"), [this](const QString& path) {
                  if (path.isEmpty()) return;
                  const QByteArray bytes = (text() + QLatin1Char('\n')).toUtf8();
                  const FileSaveResult saved = session::saveTextFile(
                      path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
                  QPalette palette = m_result->palette();
                  palette.setColor(
                      QPalette::WindowText,
                      statusColour(saved.saved ? session::StatusColour::Blue : session::StatusColour::Red));
                  m_result->setPalette(palette);
                  m_result->setText(saved.saved ? QStringLiteral("saved %1").arg(path) : saved.error);
              });
}

} // namespace quarvel
