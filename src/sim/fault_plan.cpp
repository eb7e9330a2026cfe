#include "sim/fault_plan.h"

#include "sim/seeded_random.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace quarvel::sim {

namespace {

enum class Amount
{
    None,
    Optional,
    Required
};

struct KindSyntax
{
    std::string_view name;
    FaultKind kind;
    Amount amount;
    std::int64_t defaultAmount;
    std::int64_t minAmount;
    std::int64_t maxAmount;
    std::string_view what; // what the amount is, for error texts
};

constexpr std::array<KindSyntax, 11> kKinds{{
    {"drop", FaultKind::Drop, Amount::None, 0, 0, 0, ""},
    {"late", FaultKind::Late, Amount::Required, 0, 0, FaultPlan::kMaxLateMs, "delay in ms"},
    {"badsum", FaultKind::BadChecksum, Amount::None, 0, 0, 0, ""},
    {"badcmd", FaultKind::BadCommand, Amount::None, 0, 0, 0, ""},
    {"badaddr", FaultKind::BadAddress, Amount::None, 0, 0, 0, ""},
    {"split", FaultKind::Split, Amount::Optional, FaultPlan::kDefaultSplitParts, 2, FaultPlan::kMaxSplitParts,
     "number of parts"},
    {"merge", FaultKind::Merge, Amount::None, 0, 0, 0, ""},
    {"garbage", FaultKind::Garbage, Amount::Optional, FaultPlan::kDefaultNoiseBytes, 1,
     FaultPlan::kMaxNoiseBytes, "number of bytes"},
    {"extra", FaultKind::Extra, Amount::Optional, FaultPlan::kDefaultNoiseBytes, 1, FaultPlan::kMaxNoiseBytes,
     "number of bytes"},
    {"gone", FaultKind::Gone, Amount::None, 0, 0, 0, ""},
    {"lost", FaultKind::Lost, Amount::None, 0, 0, 0, ""},
}};

// Kinds a random plan draws from. Gone is left out: it would end every random run early.
constexpr std::array<FaultKind, 10> kRandomKinds{
    FaultKind::Drop,  FaultKind::Late,  FaultKind::BadChecksum, FaultKind::BadCommand, FaultKind::BadAddress,
    FaultKind::Split, FaultKind::Merge, FaultKind::Garbage,     FaultKind::Extra,      FaultKind::Lost,
};

const KindSyntax& syntaxOf(FaultKind kind)
{
    for (const auto& k : kKinds) {
        if (k.kind == kind) return k;
    }
    return kKinds.front();
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

// The whole of text as a non-negative whole number, or nothing.
std::optional<std::int64_t> wholeNumber(std::string_view text)
{
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < 0) return std::nullopt;
    return value;
}

std::string itemError(std::string_view item, std::string_view reason)
{
    return "bad fault item \"" + std::string(item) + "\": " + std::string(reason);
}

std::string formatRate(double rate)
{
    std::array<char, 32> buffer{};
    const auto [ptr, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), rate);
    return ec == std::errc{} ? std::string(buffer.data(), ptr) : std::string("0");
}

// Parses one "kind:reply[:amount]" item into plan; an error text on failure.
std::optional<std::string> parseFault(std::string_view item, const std::vector<std::string_view>& fields,
                                      FaultPlan& plan)
{
    const KindSyntax* syntax = nullptr;
    for (const auto& k : kKinds) {
        if (k.name == fields[0]) syntax = &k;
    }
    if (syntax == nullptr) return itemError(item, "unknown fault (see the list of faults)");
    if (fields.size() < 2) return itemError(item, "missing reply number");
    const auto reply = wholeNumber(fields[1]);
    if (!reply || *reply < 1) return itemError(item, "reply number must be a whole number from 1");

    const std::size_t maxFields = syntax->amount == Amount::None ? 2 : 3;
    if (fields.size() > maxFields) return itemError(item, "too many fields");

    Fault fault{syntax->kind, *reply, syntax->defaultAmount};
    if (fields.size() == 3) {
        std::string_view amountText = fields[2];
        if (syntax->kind == FaultKind::Late && amountText.ends_with("ms")) amountText.remove_suffix(2);
        const auto amount = wholeNumber(amountText);
        if (!amount || *amount < syntax->minAmount || *amount > syntax->maxAmount) {
            return itemError(item, std::string(syntax->what) + " must be a whole number from " +
                                       std::to_string(syntax->minAmount) + " to " +
                                       std::to_string(syntax->maxAmount));
        }
        fault.amount = *amount;
    } else if (syntax->amount == Amount::Required) {
        return itemError(item, "missing " + std::string(syntax->what));
    }
    plan.add(fault);
    return std::nullopt;
}

} // namespace

FaultPlanParse FaultPlan::parse(std::string_view text)
{
    FaultPlan plan;
    if (trim(text).empty()) return {plan, {}};

    for (const auto rawItem : splitOn(text, ',')) {
        const auto item = trim(rawItem);
        if (item.empty()) return {std::nullopt, "empty fault item (two commas in a row, or one at an end)"};
        const auto fields = splitOn(item, ':');

        if (fields[0] == "random") {
            double rate = -1.0;
            if (fields.size() == 2) {
                const auto* end = fields[1].data() + fields[1].size();
                const auto [ptr, ec] = std::from_chars(fields[1].data(), end, rate);
                if (ec != std::errc{} || ptr != end) rate = -1.0;
            }
            if (!(rate >= 0.0 && rate <= 1.0))
                return {std::nullopt,
                        itemError(item, "rate must be a number from 0 to 1, as in random:0.05")};
            plan.setRandomRate(rate);
        } else if (fields[0] == "seed") {
            const auto seed = fields.size() == 2 ? wholeNumber(fields[1]) : std::nullopt;
            if (!seed || *seed > std::numeric_limits<std::uint32_t>::max())
                return {std::nullopt, itemError(item, "seed must be a whole number from 0 to 4294967295")};
            plan.setSeed(static_cast<std::uint32_t>(*seed));
        } else if (auto error = parseFault(item, fields, plan)) {
            return {std::nullopt, std::move(*error)};
        }
    }
    return {plan, {}};
}

std::string FaultPlan::toText() const
{
    std::string text;
    const auto append = [&text](const std::string& item) {
        if (!text.empty()) text += ',';
        text += item;
    };
    for (const auto& fault : m_faults) {
        const auto& syntax = syntaxOf(fault.kind);
        std::string item = std::string(syntax.name) + ':' + std::to_string(fault.reply);
        if (syntax.amount != Amount::None)
            item += ':' + std::to_string(fault.amount) + (fault.kind == FaultKind::Late ? "ms" : "");
        append(item);
    }
    if (m_randomRate > 0.0) append("random:" + formatRate(m_randomRate));
    if (m_seed != 0) append("seed:" + std::to_string(m_seed));
    return text;
}

std::string FaultPlan::describe()
{
    return "Faults: a comma-separated list of items. N counts the replies the selector would send,\n"
           "from 1, including replies to repeated requests: when reply 3 is dropped, the retry\n"
           "gets reply 4 (drop:3,drop:4 fails both).\n"
           "  drop:N          reply N is never sent\n"
           "  late:N:Tms      reply N goes out T ms late (0 to 600000; \"ms\" may be left out)\n"
           "  badsum:N        reply N carries a wrong checksum\n"
           "  badcmd:N        reply N echoes a wrong command (with a matching checksum)\n"
           "  badaddr:N       reply N echoes a wrong address (with a matching checksum)\n"
           "  split:N[:K]     reply N goes out in K parts, 2 ms apart (2 to 16, default 2)\n"
           "  merge:N         reply N is held back and sent together with the next reply\n"
           "  garbage:N[:K]   K random bytes go out before reply N (1 to 255, default 3)\n"
           "  extra:N[:K]     K random bytes go out after reply N (1 to 255, default 3)\n"
           "  gone:N          the selector vanishes at reply N; nothing is answered after that\n"
           "  lost:N          the request of reply N never reaches the selector: it is neither\n"
           "                  carried out nor answered\n"
           "  random:P        every reply without a listed fault gets a random one with\n"
           "                  probability P (0 to 1); gone is never drawn\n"
           "  seed:S          seed of random faults and garbage bytes (default 0)\n"
           "Several items may name the same reply; all of them apply.\n"
           "Example: drop:3,late:10:250ms,badsum:42,split:7:3,garbage:9:4,gone:120,seed:7\n";
}

std::vector<Fault> FaultPlan::faultsFor(std::int64_t reply, std::mt19937& rng) const
{
    std::vector<Fault> hits;
    for (const auto& fault : m_faults) {
        if (fault.reply == reply) hits.push_back(fault);
    }
    if (m_randomRate <= 0.0) return hits;

    // Always three draws a reply, so that listed faults do not shift the random sequence.
    const bool strikes = uniform01(rng) < m_randomRate;
    const auto kind = kRandomKinds[static_cast<std::size_t>(uniformInt(rng, 0, kRandomKinds.size() - 1))];
    const auto parameter = rng();
    if (!strikes || !hits.empty()) return hits;

    Fault fault{kind, reply, 0};
    switch (kind) {
    case FaultKind::Late:
        fault.amount = 50 + parameter % 451; // around the host's 200 ms time-out, both sides
        break;
    case FaultKind::Split:
        fault.amount = 2 + parameter % 4;
        break;
    case FaultKind::Garbage:
    case FaultKind::Extra:
        fault.amount = 1 + parameter % 8;
        break;
    default:
        break;
    }
    hits.push_back(fault);
    return hits;
}

} // namespace quarvel::sim
