// Fault plan text on arbitrary bytes: a plan that parses is within its limits, writes back as
// text that parses to the same plan (and the same text again), and draws faults only for the
// reply asked about, with amounts inside their ranges. A refused text always says why.
#include "fuzz_input.h"
#include "sim/fault_plan.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string_view>

namespace {

using quarvel::sim::Fault;
using quarvel::sim::FaultKind;
using quarvel::sim::FaultPlan;

using quarvel::fuzz::check;

void checkAmount(const Fault& fault)
{
    switch (fault.kind) {
    case FaultKind::Late:
        check(fault.amount >= 0 && fault.amount <= FaultPlan::kMaxLateMs);
        break;
    case FaultKind::Split:
        check(fault.amount >= 2 && fault.amount <= FaultPlan::kMaxSplitParts);
        break;
    case FaultKind::Garbage:
    case FaultKind::Extra:
        check(fault.amount >= 1 && fault.amount <= FaultPlan::kMaxNoiseBytes);
        break;
    default:
        check(fault.amount == 0);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = FaultPlan::parse(text);
    if (!parsed.plan) {
        check(!parsed.error.empty());
        return 0;
    }
    check(parsed.error.empty());
    const FaultPlan& plan = *parsed.plan;
    check(plan.randomRate() >= 0.0 && plan.randomRate() <= 1.0);
    for (const auto& fault : plan.faults()) {
        check(fault.reply >= 1);
        checkAmount(fault);
    }

    const std::string written = plan.toText();
    const auto again = FaultPlan::parse(written);
    check(again.plan.has_value());
    check(*again.plan == plan);
    check(again.plan->toText() == written);

    // The same seed draws the same faults; every fault drawn is for the reply asked about.
    std::mt19937 rng(plan.seed());
    std::mt19937 replay(plan.seed());
    for (std::int64_t reply = 1; reply <= 16; ++reply) {
        const auto faults = plan.faultsFor(reply, rng);
        check(faults == plan.faultsFor(reply, replay));
        std::size_t listed = 0;
        for (const auto& fault : plan.faults())
            listed += fault.reply == reply ? 1 : 0;
        // Listed faults win; a random one comes only for a reply without any.
        check(faults.size() == listed || (listed == 0 && faults.size() == 1));
        for (const auto& fault : faults) {
            check(fault.reply == reply);
            checkAmount(fault);
            if (listed == 0) check(fault.kind != FaultKind::Gone);
        }
    }
    return 0;
}
