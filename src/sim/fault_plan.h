#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

enum class FaultKind
{
    Drop,        // the reply is never sent
    Late,        // the reply goes out `amount` ms later than it would
    BadChecksum, // the reply's checksum byte is wrong
    BadCommand,  // the reply echoes another command, with a checksum that matches it
    BadAddress,  // the reply echoes another address, with a checksum that matches it
    Split,       // the reply goes out in `amount` parts, a little apart
    Merge,       // the reply is held back and sent together with the next one
    Garbage,     // `amount` random bytes go out just before the reply
    Extra,       // `amount` random bytes go out just after the reply
    Gone,        // the selector vanishes: this reply and everything after it is never sent
    Lost,        // the request never reaches the selector: nothing stored, nothing answered
};

// One planned fault. `reply` counts the replies the selector would send, from 1, including
// replies to repeated requests: when reply 3 is dropped, the host's retry gets reply 4.
struct Fault
{
    FaultKind kind = FaultKind::Drop;
    std::int64_t reply = 1;
    std::int64_t amount = 0; // Late: ms; Split: parts; Garbage, Extra: bytes; otherwise 0
    bool operator==(const Fault&) const = default;
};

struct FaultPlanParse;

// What makes a virtual selector misbehave, reproducibly. A plan is a list of faults at given
// replies plus an optional random rate; random faults come from a generator seeded with seed().
class FaultPlan
{
public:
    static constexpr std::int64_t kDefaultSplitParts = 2;
    static constexpr std::int64_t kDefaultNoiseBytes = 3;
    static constexpr std::int64_t kMaxSplitParts = 16;
    static constexpr std::int64_t kMaxNoiseBytes = 255;
    static constexpr std::int64_t kMaxLateMs = 600000;
    static constexpr std::int64_t kSplitGapMs = 2; // between the parts of a split reply

    // The text form, e.g. "drop:3,late:10:250ms,split:7:3,seed:7". Empty text is the empty plan.
    static FaultPlanParse parse(std::string_view text);
    // Help text for the text form, for --help.
    static std::string describe();
    // The text form of this plan; parse(toText()) gives the plan back.
    std::string toText() const;

    void add(const Fault& fault) { m_faults.push_back(fault); }
    const std::vector<Fault>& faults() const { return m_faults; }

    // Probability, 0..1, that a reply without a planned fault draws a random one.
    void setRandomRate(double probability) { m_randomRate = probability; }
    double randomRate() const { return m_randomRate; }

    void setSeed(std::uint32_t seed) { m_seed = seed; }
    std::uint32_t seed() const { return m_seed; }

    bool isEmpty() const { return m_faults.empty() && m_randomRate <= 0.0; }

    // The faults that hit reply `reply`: the planned ones, or else (in random mode) at most one
    // drawn from rng. Callers draw for every reply in order, so a seed replays the same run.
    std::vector<Fault> faultsFor(std::int64_t reply, std::mt19937& rng) const;

    bool operator==(const FaultPlan&) const = default;

private:
    std::vector<Fault> m_faults;
    double m_randomRate = 0.0;
    std::uint32_t m_seed = 0;
};

// parse()'s answer: the plan, or an error text that names the offending item.
struct FaultPlanParse
{
    std::optional<FaultPlan> plan;
    std::string error;
};

} // namespace quarvel::sim
