// quarvel: the desktop program a service technician reads, edits, teaches and programs a coin
// selector with.
#include "app_icon.h"
#include "exit_when_shown.h"
#include "image/qt/state_file_io.h"
#include "ui/main/main_window.h"
#include "script_runner.h"
#include "session/selector_session.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quarvel"));
    QCoreApplication::setApplicationName(QStringLiteral("quarvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION));
    quarvel::keepSettingsInDataFolder();
    QGuiApplication::setDesktopFileName(QStringLiteral("quarvel"));
    QApplication::setWindowIcon(quarvel::appIcon());
    // The traffic log window shows the line; the console stays quiet unless QT_LOGGING_RULES says.
    QLoggingCategory::setFilterRules(QStringLiteral("quarvel.link.debug=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Coin Selector programmer"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulator(
        QStringLiteral("simulator"),
        QStringLiteral("Start on the in-process virtual selector (no hardware)."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Start on this serial port or device path (COM3, /dev/ttyUSB0)."),
        QStringLiteral("PATH"));
    QCommandLineOption script(QStringLiteral("script"), QStringLiteral("Run the steps of FILE."),
                              QStringLiteral("FILE"));
    script.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({simulator, port, script});
    parser.process(app);
    if (parser.isSet(simulator) && parser.isSet(port)) {
        std::fprintf(stderr, "quarvel: --simulator and --port exclude each other\n");
        return 2;
    }

    quarvel::StartPort start;
    if (parser.isSet(simulator)) start.kind = quarvel::StartPort::Kind::Virtual;
    if (parser.isSet(port)) start = {quarvel::StartPort::Kind::Path, parser.value(port)};

    QStringList steps;
    if (parser.isSet(script)) {
        QString error;
        if (!quarvel::ScriptRunner::load(parser.value(script), &steps, &error)) {
            std::fprintf(stderr, "quarvel: %s\n", qPrintable(error));
            return 2;
        }
    }

    quarvel::session::SelectorSession session;
    quarvel::MainWindow window(session);
    window.startUp(start);
    // QUARVEL_EXIT_WHEN_SHOWN set: leave once the window has painted (bench/startup_bench).
    quarvel::ExitWhenShown exitWhenShown;
    if (qEnvironmentVariableIsSet("QUARVEL_EXIT_WHEN_SHOWN")) window.installEventFilter(&exitWhenShown);
    window.show();

    std::unique_ptr<quarvel::ScriptRunner> runner;
    if (parser.isSet(script)) {
        runner = std::make_unique<quarvel::ScriptRunner>(window, steps);
        runner->start();
    }
    return app.exec();
}
