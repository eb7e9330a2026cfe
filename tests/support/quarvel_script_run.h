#pragma once

// Runs the real quarvel binary on a script of user steps, under xvfb-run when there is one
// (otherwise on the offscreen platform), with its per-user folders inside home. The caller's
// event loop keeps running meanwhile, so a pty selector served from it answers.
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quarvel::testing {

// The program's exit code, or -1 when the script could not be written or the run timed out.
inline int runQuarvelScript(const QString& binary, const QTemporaryDir& home, const QString& portPath,
                            const QString& steps, int timeoutMs = 90000)
{
    const QString script = home.filePath("script.txt");
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly) || file.write(steps.toUtf8()) < 0) return -1;
    file.close();

    // In a sanitizer build, leaks inside the desktop's system libraries (D-Bus, fontconfig,
    // the X client) are not ours to fix and would fail every run.
    const QString suppressions = home.filePath("lsan.supp");
    QFile supp(suppressions);
    if (!supp.open(QIODevice::WriteOnly) ||
        supp.write("leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libX11.so\nleak:libxcb\n") < 0)
        return -1;
    supp.close();

    QProcess quarvel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LSAN_OPTIONS", "suppressions=" + suppressions);
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    QStringList args{"--port", portPath, "--script", script};
    const QString xvfb = QStandardPaths::findExecutable("xvfb-run");
    if (!xvfb.isEmpty()) {
        env.remove("QT_QPA_PLATFORM");
        quarvel.setProgram(xvfb);
        args.prepend(binary);
        args.prepend("-a");
    } else {
        quarvel.setProgram(binary);
    }
    quarvel.setArguments(args);
    quarvel.setProcessEnvironment(env);
    quarvel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&quarvel, &QProcess::finished);
    quarvel.start();
    if (!finished.wait(timeoutMs)) {
        quarvel.kill();
        quarvel.waitForFinished();
        return -1;
    }
    return quarvel.exitCode();
}

} // namespace quarvel::testing
