#include "session/gang_run.h"

#include "session/port_identity.h"
#include "session/virtual_bench.h"

namespace quarvel::session {

namespace {

PortOpener openerFor(const QString& port)
{
    if (port == QLatin1String("sim"))
        return [](Device& device, QString* error) { return VirtualBench::of(device).open({}, error); };
    return portOpener(PortIdentity::of(port));
}

} // namespace

// A pulled adapter that comes back, perhaps under another name, is found by what it is.
PortOpener portOpener(const PortIdentity& identity)
{
    return [identity](Device& device, QString* error) {
        const QString where = identity.locate();
        if (where.isEmpty()) {
            if (error) *error = QStringLiteral("%1 is not there").arg(identity.path);
            return false;
        }
        return device.openPort(where, error);
    };
}

GangRun::GangRun(const QStringList& ports, const GangJob& job, const PortOpener& opener, QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<quarvel::session::GangUnitResult>("quarvel::session::GangUnitResult");
    for (int i = 0; i < ports.size(); ++i) {
        const QString& port = ports.at(i);
        PortOpener open = opener ? opener : openerFor(port);
        auto station = std::make_unique<GangStation>(port, job, std::move(open));
        connect(station.get(), &GangStation::progress, this,
                [this, i](const QString& text) { emit progress(i, text); });
        connect(station.get(), &GangStation::unitFinished, this, [this](const GangUnitResult& result) {
            count(result);
            emit unitFinished(result);
        });
        connect(station.get(), &GangStation::portLost, this,
                [this](const QString& port, const QString& message) {
                    ++m_portsLost;
                    emit portLost(port, message);
                });
        connect(station.get(), &GangStation::done, this, &GangRun::stationDone);
        m_stations.push_back(std::move(station));
    }
}

GangRun::~GangRun()
{
    // Quietly: whoever listens may be going away with us.
    for (auto& station : m_stations)
        station->disconnect(this);
}

void GangRun::start()
{
    if (m_stations.empty()) {
        emit finished();
        return;
    }
    for (auto& station : m_stations)
        station->start();
}

void GangRun::interrupt()
{
    m_interrupted = true;
    for (auto& station : m_stations)
        station->interrupt();
}

void GangRun::count(const GangUnitResult& result)
{
    ++m_attempts;
    LastAttempt& last = m_lastOnPort[result.port];
    const bool again = result.serialNo >= 0 && last.serialNo == result.serialNo && !last.passed;
    if (again) --m_failed; // the same selector: its last attempt decides
    ++(result.passed ? m_passed : m_failed);
    last = {result.serialNo, result.passed};
}

QString GangRun::summary() const
{
    const auto counted = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QString text = QStringLiteral("%1: %2 passed, %3 failed; %4")
                       .arg(counted(passed() + failed(), "selector", "selectors"))
                       .arg(passed())
                       .arg(failed())
                       .arg(counted(m_attempts, "attempt", "attempts"));
    if (m_portsLost > 0) text += QStringLiteral(", port lost %1").arg(counted(m_portsLost, "time", "times"));
    return text;
}

void GangRun::stationDone()
{
    if (++m_done == size()) emit finished();
}

} // namespace quarvel::session
