#include "script_runner.h"

#include "ui/main/main_window.h"
#include "ui/main/traffic_log_window.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTextEdit>
#include <QTextStream>

#include <cstdio>

namespace quarvel {

namespace {
constexpr int kTickMs = 20;
constexpr int kMaxTicksPerStep = 30000 / kTickMs;
constexpr int kScriptFailed = 3;

// The texts a picture of target shows, one a line: what a check of the pictures reads, as it
// cannot read the pixels.
QStringList shownTexts(QWidget* target)
{
    QStringList texts{target->windowTitle()};
    QList<QWidget*> widgets{target};
    widgets += target->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(target) && w != target) continue;
        if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) texts << edit->text();
        if (auto* list = qobject_cast<QComboBox*>(w)) texts << list->currentText();
        if (auto* box = qobject_cast<QGroupBox*>(w)) texts << box->title();
        if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) texts << plain->toPlainText();
        if (auto* rich = qobject_cast<QTextEdit*>(w)) texts << rich->toPlainText();
        if (auto* menu = qobject_cast<QMenu*>(w))
            for (QAction* action : menu->actions())
                texts << action->text();
        if (auto* view = qobject_cast<QAbstractItemView*>(w); view && view->model()) {
            const QAbstractItemModel& model = *view->model();
            for (int row = 0; row < model.rowCount(); ++row)
                for (int column = 0; column < model.columnCount(); ++column)
                    texts << model.index(row, column).data().toString();
        }
    }
    texts.removeAll(QString());
    return texts;
}

bool saveTexts(const QString& path, const QStringList& texts)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
    file.write(texts.join(QLatin1Char('\n')).toUtf8() + '\n');
    return file.commit();
}
} // namespace

ScriptRunner::ScriptRunner(MainWindow& mainWindow, QStringList steps, QObject* parent)
    : QObject(parent), m_main(mainWindow), m_steps(std::move(steps))
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &ScriptRunner::tick);
}

bool ScriptRunner::load(const QString& path, QStringList* steps, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) steps->append(line);
    }
    return true;
}

void ScriptRunner::start()
{
    m_timer.start();
}

void ScriptRunner::tick()
{
    while (m_next < m_steps.size()) {
        if (!run(m_steps[m_next])) {
            if (++m_ticksOnStep > kMaxTicksPerStep) fail(QStringLiteral("timed out"));
            return;
        }
        ++m_next;
        m_ticksOnStep = 0;
    }
    m_timer.stop();
}

bool ScriptRunner::run(const QString& step)
{
    const QStringList words = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString& verb = words.first();
    const QString name = words.value(1);
    if (verb == QLatin1String("wait")) return find(name) != nullptr;
    if (verb == QLatin1String("wait-idle")) return !m_main.session().device().isBusy();
    if (verb == QLatin1String("show-traffic")) {
        m_main.trafficLog()->show();
        return true;
    }
    if (verb == QLatin1String("choose-file")) {
        // Every later file dialog answers with this path, as a user picking it would.
        m_main.setFileChooser([path = name](QWidget*, FileChoice, const QString&, const QString&,
                                            const std::function<void(const QString&)>& done) { done(path); });
        return true;
    }
    if (verb == QLatin1String("trigger")) {
        auto* action = m_main.findChild<QAction*>(name);
        if (!action) {
            fail(QStringLiteral("no menu entry %1").arg(name));
            return false;
        }
        if (!action->isEnabled()) return false;
        action->trigger();
        return true;
    }
    if (verb == QLatin1String("popup")) {
        // As a click on the menu's title: the menu opens under it, its entries refreshed.
        auto* menu = m_main.findChild<QMenu*>(name);
        if (!menu) {
            fail(QStringLiteral("no menu %1").arg(name));
            return false;
        }
        m_main.menuBar()->setActiveAction(menu->menuAction());
        return true;
    }
    if (verb == QLatin1String("quit")) {
        m_timer.stop();
        QApplication::exit(0);
        return true;
    }
    QWidget* target = find(name);
    if (!target) {
        fail(QStringLiteral("no visible %1").arg(name));
        return false;
    }
    if (verb == QLatin1String("wait-text")) {
        const QString text = words.mid(2).join(QLatin1Char(' '));
        for (const QString& shown : shownTexts(target))
            if (shown.contains(text)) return true;
        return false;
    }
    if (verb == QLatin1String("click")) {
        auto* button = qobject_cast<QAbstractButton*>(target);
        if (!button || !button->isEnabled()) return false; // a disabled button may come alive
        button->click();
        return true;
    }
    if (verb == QLatin1String("type")) {
        auto* edit = qobject_cast<QLineEdit*>(target);
        if (!edit) {
            fail(QStringLiteral("%1 is not a text box").arg(name));
            return false;
        }
        edit->setFocus();
        edit->selectAll();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, words.value(2));
        QApplication::sendEvent(edit, &key);
        return true;
    }
    if (verb == QLatin1String("select")) {
        auto* list = qobject_cast<QComboBox*>(target);
        if (!list) {
            fail(QStringLiteral("%1 is not a list").arg(name));
            return false;
        }
        list->setCurrentIndex(words.value(2).toInt());
        return true;
    }
    if (verb == QLatin1String("grab")) {
        // A window shown or changed in this tick is laid out, and its new children shown, only when
        // its queued events run: the picture waits a tick, to show it as the screen will.
        if (m_ticksOnStep == 0) return false;
        const QString picture = words.value(2);
        if (target->grab().save(picture) && saveTexts(picture + QStringLiteral(".txt"), shownTexts(target)))
            return true;
        // Not done: a later step in this tick (a quit) would otherwise replace the exit code.
        fail(QStringLiteral("cannot save %1").arg(picture));
        return false;
    }
    fail(QStringLiteral("unknown step"));
    return false;
}

QWidget* ScriptRunner::find(const QString& name) const
{
    const QStringList parts = name.split(QLatin1Char('/'));
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        if (parts.size() == 1 && top->objectName() == parts[0]) return top;
        if (parts.size() == 1 || top->objectName() == parts[0]) {
            for (QWidget* child : top->findChildren<QWidget*>(parts.last()))
                if (child->isVisible() && child->window() == top) return child;
        }
    }
    return nullptr;
}

void ScriptRunner::fail(const QString& why)
{
    std::fprintf(stderr, "quarvel script: step %d \"%s\": %s\n", m_next + 1,
                 qPrintable(m_steps.value(m_next)), qPrintable(why));
    m_timer.stop();
    QApplication::exit(kScriptFailed);
}

} // namespace quarvel
