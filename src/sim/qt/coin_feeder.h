#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <random>

namespace quarvel::sim {

class VirtualPort;
class PtyBridge;

// Drops coins into a virtual selector at the pace of a hand feeding a coin slot: one every
// 600-900 ms, the gaps drawn from a seed so a run can be replayed. A coin is only inserted
// while the selector samples; until then it waits, as the next coin waits in the hand.
class CoinFeeder : public QObject
{
    Q_OBJECT

public:
    // Inserts one coin of a type index (0..11); false when the selector took nothing.
    using Insert = std::function<bool(int coinType, bool irregular)>;

    static constexpr int kDefaultMinGapMs = 600;
    static constexpr int kDefaultMaxGapMs = 900;

    explicit CoinFeeder(Insert insert, QObject* parent = nullptr);
    explicit CoinFeeder(VirtualPort& port, QObject* parent = nullptr);
#ifdef Q_OS_UNIX
    explicit CoinFeeder(PtyBridge& bridge, QObject* parent = nullptr);
#endif

    void setSeed(std::uint32_t seed)
    {
        m_rng.seed(seed);
    }
    // The gap before each coin lies between minMs and maxMs (both at least 0).
    void setPace(int minMs, int maxMs);

    // Adds count coins of the type behind those still to come; feeding starts after one gap.
    void feed(int coinType, int count, bool irregular = false);
    // Drops the coins not yet inserted.
    void stop();

    int remaining() const
    {
        return static_cast<int>(m_coins.size());
    }
    bool isFeeding() const
    {
        return !m_coins.empty();
    }

signals:
    void coinInserted(int coinType, int remaining);
    void finished(); // the last coin of a feed went in

private:
    void armNext();
    void insertNext();

    Insert m_insert;
    QTimer m_timer;
    std::mt19937 m_rng;
    int m_minGapMs = kDefaultMinGapMs;
    int m_maxGapMs = kDefaultMaxGapMs;
    struct Coin
    {
        int type;
        bool irregular;
    };
    std::deque<Coin> m_coins;
};

} // namespace quarvel::sim
