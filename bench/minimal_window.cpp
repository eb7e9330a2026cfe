// The floor for the desktop program's start-up: a Qt Widgets program with one main window and
// nothing else. Like quarvel with QUARVEL_EXIT_WHEN_SHOWN, it prints the monotonic clock in
// nanoseconds once the window has painted and leaves at once.
#include "exit_when_shown.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.setCentralWidget(new QLabel(QStringLiteral("minimal"), &window));
    quarvel::ExitWhenShown exitWhenShown;
    window.installEventFilter(&exitWhenShown);
    window.show();
    return app.exec();
}
