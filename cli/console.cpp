#include "console.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <cstdio>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quarvel::cli {

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    // Only a console: a pipe gets plain lines, and so does NUL, which _isatty takes for a terminal.
    // The bar redraws itself with VT sequences, which a classic console prints unless asked not to.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace quarvel::cli
