// quarvelctl: the command-line front end for scripted work on a bench or a production line.
#include "command_line.h"
#include "commands.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarvelctl"));
    // stderr carries the status texts; the line's traffic goes there only with --trace.
    // QT_LOGGING_RULES can still switch the link's log on.
    QLoggingCategory::setFilterRules(QStringLiteral("quarvel.link.debug=false"));

    const auto parsed = quarvel::cli::parseCommandLine(QCoreApplication::arguments());
    if (!parsed.invocation) {
        (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.text.toStdString() << std::flush;
        return parsed.exitCode;
    }
    return quarvel::cli::runInvocation(*parsed.invocation);
}
