// The floor for the desktop program's start-up: a Qt Widgets program with one main window and
// nothing else. Like quarvel with QUARVEL_EXIT_WHEN_SHOWN, it prints the monotonic clock in
// nanoseconds once the window has painted and leaves at once.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

class ExitWhenShown : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, [] {
                const auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
                std::printf("%lld\n", static_cast<long long>(ns));
                std::fflush(stdout);
                std::_Exit(0);
            });
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.setCentralWidget(new QLabel(QStringLiteral("minimal"), &window));
    ExitWhenShown exitWhenShown;
    window.installEventFilter(&exitWhenShown);
    window.show();
    return app.exec();
}
