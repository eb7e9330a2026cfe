#include "sim/qt/coin_feeder.h"

#include "sim/qt/virtual_port.h"
#include "sim/seeded_random.h"

#ifdef Q_OS_UNIX
#include "sim/qt/pty_bridge.h"
#endif

#include <algorithm>
#include <utility>

namespace quarvel::sim {

namespace {
// While the selector does not sample yet, look again this often.
constexpr int kRetryMs = 50;
} // namespace

CoinFeeder::CoinFeeder(Insert insert, QObject* parent) : QObject(parent), m_insert(std::move(insert))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CoinFeeder::insertNext);
}

CoinFeeder::CoinFeeder(VirtualPort& port, QObject* parent)
    : CoinFeeder([&port](int type, bool irregular) { return port.insertCoin(type, irregular); }, parent)
{}

#ifdef Q_OS_UNIX
CoinFeeder::CoinFeeder(PtyBridge& bridge, QObject* parent)
    : CoinFeeder([&bridge](int type, bool irregular) { return bridge.insertCoin(type, irregular); }, parent)
{}
#endif

void CoinFeeder::setPace(int minMs, int maxMs)
{
    m_minGapMs = std::max(0, minMs);
    m_maxGapMs = std::max(m_minGapMs, maxMs);
}

void CoinFeeder::feed(int coinType, int count, bool irregular)
{
    if (count <= 0) return;
    m_coins.insert(m_coins.end(), static_cast<std::size_t>(count), Coin{coinType, irregular});
    if (!m_timer.isActive()) armNext();
}

void CoinFeeder::stop()
{
    m_coins.clear();
    m_timer.stop();
}

void CoinFeeder::armNext()
{
    m_timer.start(static_cast<int>(uniformInt(m_rng, m_minGapMs, m_maxGapMs)));
}

void CoinFeeder::insertNext()
{
    if (m_coins.empty()) return;
    const Coin coin = m_coins.front();
    if (!m_insert(coin.type, coin.irregular)) {
        m_timer.start(kRetryMs);
        return;
    }
    m_coins.pop_front();
    emit coinInserted(coin.type, remaining());
    if (!m_coins.empty())
        armNext();
    else
        emit finished();
}

} // namespace quarvel::sim
