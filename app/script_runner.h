#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QWidget;

namespace quarvel {

class MainWindow;

// Drives the program from a text file, one step a line, as a user would: for end-to-end
// tests and screenshots of the real binary. Not shown in --help.
//
//   wait NAME            until a visible widget NAME exists ("setting", "setting/ComExit")
//   wait-idle            until no device operation runs
//   wait-text NAME TEXT  until a visible widget NAME shows a text holding TEXT (a status line)
//   click NAME           press a button
//   type NAME TEXT       replace a text box's text by typing TEXT
//   select NAME INDEX    choose a list entry
//   grab NAME FILE       save a picture of a window, and the texts it shows in FILE.txt
//   choose-file PATH     later file dialogs answer with PATH
//   trigger NAME         a main-window menu entry ("mnuOpen_Program")
//   popup NAME           open a main-window menu ("mnuSystem"); grab it by the same name
//   show-traffic         open the traffic log
//   quit                 end the program without Exit (the state file is not written)
//
// A step that cannot be done, or a wait of more than 30 s, ends the program with exit code 3
// and the reason on stderr.
class ScriptRunner : public QObject
{
    Q_OBJECT

public:
    ScriptRunner(MainWindow& mainWindow, QStringList steps, QObject* parent = nullptr);
    static bool load(const QString& path, QStringList* steps, QString* error);
    void start();

private:
    void tick();
    // true when the step is done, false to try again on the next tick
    bool run(const QString& step);
    QWidget* find(const QString& name) const;
    void fail(const QString& why);

    MainWindow& m_main;
    QStringList m_steps;
    int m_next = 0;
    int m_ticksOnStep = 0;
    QTimer m_timer;
};

} // namespace quarvel
