#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace quarvel::session {

class SelectorSession;

// The desktop program's port rules in one place. A fixed entry (Com1..Com4, Com9) that cannot
// be opened falls back to port 1; a path port or the virtual selector that cannot be opened
// leaves the connection in use open and marked. fixedPort() names the fixed entry in
// use, none for a path or the virtual selector.
class PortChoice
{
public:
    using FixedNames = std::function<QString(int port)>; // the platform name of a fixed entry

    struct Result
    {
        bool opened = false;           // the port asked for is open
        std::optional<int> fellBackTo; // the fixed port opened instead (whether or not it opened)
        QString error;                 // why the port asked for did not open
    };

    PortChoice(SelectorSession& session, FixedNames names);

    Result chooseFixed(int port);
    Result choosePath(const QString& path);
    Result chooseVirtual();

    // At start-up: the remembered choice (a path that still exists, or the virtual selector),
    // else the marked fixed port.
    static constexpr char kVirtualMarker[] = ":virtual";
    Result start(const QString& remembered, int markedPort);

    std::optional<int> fixedPort() const { return m_fixedPort; }
    QString fixedName(int port) const { return m_names(port); }

private:
    SelectorSession& m_session;
    FixedNames m_names;
    std::optional<int> m_fixedPort;
};

} // namespace quarvel::session
