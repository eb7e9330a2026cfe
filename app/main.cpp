// quarvel: the desktop program a service technician reads, edits, teaches and programs a coin
// selector with.
#include "app_icon.h"
#include "exit_when_shown.h"
#include "image/qt/state_file_io.h"
#include "image/qt/user_folders.h"
#include "script_runner.h"
#include "session/selector_session.h"
#include "ui/main/help_menu.h"
#include "ui/main/history_menu.h"
#include "ui/main/main_window.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct Options
{
    QCommandLineOption simulator{QStringLiteral("simulator"),
                                 QStringLiteral("Start on the in-process virtual selector (no hardware).")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("Start on this serial port or device path (COM3, /dev/ttyUSB0), "
                                           "or sim for the virtual selector."),
                            QStringLiteral("PATH")};
    QCommandLineOption coinInterval{
        QStringLiteral("coin-interval"),
        QStringLiteral("Milliseconds between the coins the virtual selector is fed (default: a hand's "
                       "pace, 600 to 900)."),
        QStringLiteral("MS")};
    QCommandLineOption script{QStringLiteral("script"), QStringLiteral("Run the steps of FILE."),
                              QStringLiteral("FILE")};

    void addTo(QCommandLineParser& parser)
    {
        parser.setApplicationDescription(QStringLiteral("Coin Selector programmer"));
        parser.addHelpOption();
        parser.addVersionOption();
        script.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOptions({simulator, port, coinInterval, script});
    }
};

void nameApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("quarvel"));
    QCoreApplication::setApplicationName(QStringLiteral("quarvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION));
    quarvel::keepSettingsInDataFolder();
}

// Help and version need no window: they are answered before any display is asked for.
bool asksOnlyForText(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--help" || a == "-h" || a == "-?" || a == "--help-all" || a == "--version" || a == "-v")
            return true;
    }
    return false;
}

// Without a display QApplication aborts with a core dump; say what to do instead.
bool noDisplay(int argc, char** argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "-platform" || QByteArray(argv[i]) == "--platform") return false;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (platform.startsWith("xcb")) return !x11;
    if (platform.startsWith("wayland")) return !wayland;
    if (!platform.isEmpty()) return false; // offscreen, vnc and the like need no display
    return !x11 && !wayland;
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return false;
#endif
}

// Help, version or a command line without a display: said on the console, no window. The exit
// code, or nothing when the window is to open.
std::optional<int> withoutWindow(int argc, char** argv)
{
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        nameApplication();
        QCommandLineParser parser;
        Options options;
        options.addTo(parser);
        parser.process(app); // prints and exits
        return 0;
    }
    if (!noDisplay(argc, argv)) return std::nullopt;
    // A mistyped option is the thing to hear about, display or not.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    Options options;
    options.addTo(parser);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "quarvel: %s\n", qPrintable(parser.errorText()));
        return 1;
    }
    std::fprintf(stderr,
                 "quarvel: no display to open its window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                 "Start it from a desktop session, or without one:\n"
                 "  xvfb-run -a quarvel --simulator     a virtual screen\n"
                 "  quarvelctl read --port sim           the command-line tool\n");
    return 1;
}

// What the command line asks of the window.
struct Start
{
    quarvel::StartPort port;
    int coinIntervalMs = -1;
    std::optional<QStringList> script; // the steps of --script
};

// Reads the command line into start; the exit code when it is wrong.
std::optional<int> readStart(const QCommandLineParser& parser, const Options& options, Start& start)
{
    if (parser.isSet(options.simulator) && parser.isSet(options.port)) {
        std::fprintf(stderr, "quarvel: --simulator and --port exclude each other\n");
        return 2;
    }
    if (parser.isSet(options.coinInterval)) {
        bool ok = false;
        start.coinIntervalMs = parser.value(options.coinInterval).toInt(&ok);
        if (!ok || start.coinIntervalMs < 0 || start.coinIntervalMs > 60000) {
            std::fprintf(stderr, "quarvel: --coin-interval takes 0..60000 milliseconds, not '%s'\n",
                         qPrintable(parser.value(options.coinInterval)));
            return 2;
        }
    }
    if (parser.isSet(options.simulator)) start.port.kind = quarvel::StartPort::Kind::Virtual;
    if (parser.isSet(options.port)) {
        // "sim" is the virtual selector, as quarvelctl takes it.
        const QString value = parser.value(options.port);
        start.port = value == QLatin1String("sim")
                         ? quarvel::StartPort{quarvel::StartPort::Kind::Virtual, {}}
                         : quarvel::StartPort{quarvel::StartPort::Kind::Path, value};
    }
    if (parser.isSet(options.script)) {
        QStringList steps;
        QString error;
        if (!quarvel::ScriptRunner::load(parser.value(options.script), &steps, &error)) {
            std::fprintf(stderr, "quarvel: %s\n", qPrintable(error));
            return 2;
        }
        start.script = steps;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto code = withoutWindow(argc, argv)) return *code;

    QApplication app(argc, argv);
    nameApplication();
    // Once, after an update: the state file and the backups come along to the folders in use now.
    if (const QString left = quarvel::moveOldUserFolders(); !left.isEmpty())
        std::fprintf(stderr, "quarvel: left in the old folder, as the new one has them already: %s\n",
                     qPrintable(left));
    QGuiApplication::setDesktopFileName(QStringLiteral("quarvel"));
    QApplication::setWindowIcon(quarvel::appIcon());
    // The traffic log window shows the line; the console stays quiet unless QT_LOGGING_RULES says.
    QLoggingCategory::setFilterRules(QStringLiteral("quarvel.link.debug=false"));

    QCommandLineParser parser;
    Options options;
    options.addTo(parser);
    parser.process(app);
    Start start;
    if (const auto code = readStart(parser, options, start)) return *code;

    // Before the session, whose device records into it to the end.
    const auto history = quarvel::desktopHistory();
    quarvel::session::SelectorSession session;
    session.bench().setCoinInterval(start.coinIntervalMs);
    quarvel::MainWindow window(session);
    quarvel::addHistoryMenu(window, session.device(), history.get());
    quarvel::addHelpMenu(window);
    window.startUp(start.port);
    // QUARVEL_EXIT_WHEN_SHOWN set: leave once the window has painted (bench/startup_bench).
    quarvel::ExitWhenShown exitWhenShown;
    if (qEnvironmentVariableIsSet("QUARVEL_EXIT_WHEN_SHOWN")) window.installEventFilter(&exitWhenShown);
    window.show();

    std::unique_ptr<quarvel::ScriptRunner> runner;
    if (start.script) {
        runner = std::make_unique<quarvel::ScriptRunner>(window, *start.script);
        runner->start();
    }
    return app.exec();
}
