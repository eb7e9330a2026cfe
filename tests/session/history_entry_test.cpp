#include "session/history_entry.h"

#include "image/address_map.h"

#include <gtest/gtest.h>

using namespace quarvel;
using namespace quarvel::session;

namespace {

ParameterImage filled(int value)
{
    ParameterImage image;
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell)
        image.setNumber(cell, value);
    return image;
}

RangeResult range(int first, int last, bool done)
{
    RangeResult r;
    r.first = first;
    r.last = last;
    r.reason = done ? link::EndReason::Succeeded : link::EndReason::RetriesUsedUp;
    r.cellsWritten = done ? last - first + 1 : 10;
    return r;
}

} // namespace

TEST(HistoryEntry, AProgrammingIsRecordedAsFarAsItGot)
{
    struct Case
    {
        const char* name;
        std::vector<RangeResult> ranges;
        bool verified;
        bool mismatch;
        const char* completion;
        bool succeeded;
    };
    const Case cases[] = {
        {"nothing written", {}, false, false, "nothing", false},
        {"a range cut short",
         {range(0, 84, true), range(86, 123, false)},
         false,
         false,
         "partly 95 of 184",
         false},
        {"written, not read back",
         {range(0, 84, true), range(86, 123, true), range(128, 188, true)},
         false,
         false,
         "complete",
         true},
        {"read back as sent",
         {range(0, 84, true), range(86, 123, true), range(128, 188, true)},
         true,
         false,
         "verified",
         true},
        {"read back otherwise",
         {range(0, 84, true), range(86, 123, true), range(128, 188, true)},
         true,
         true,
         "complete",
         false},
    };
    for (const Case& c : cases) {
        ProgramResult result;
        result.ranges = c.ranges;
        const bool allWritten = c.ranges.size() == 3;
        result.reason = allWritten ? link::EndReason::Succeeded : link::EndReason::RetriesUsedUp;
        result.verified = c.verified;
        if (c.mismatch) result.mismatches.push_back({30, "x", 1, 2});
        result.before = filled(7);
        result.readBack = filled(9);
        result.readBack.setNumber(address::kSerialNo, 38);
        result.faults.add(link::ExchangeFault::TimeOut, 3);
        OperationFacts facts;
        facts.operation = QStringLiteral("station");
        facts.station = QStringLiteral("line A");
        const history::HistoryRecord r = historyRecordOf(result, facts);
        EXPECT_EQ(r.completion, QString::fromUtf8(c.completion)) << c.name;
        EXPECT_EQ(r.succeeded, c.succeeded) << c.name;
        EXPECT_EQ(r.before, QByteArray(189, '\x07')) << c.name;
        // Only a read-back says what the selector holds afterwards.
        EXPECT_EQ(r.after.size(), c.verified ? 189 : 0) << c.name;
        EXPECT_EQ(r.serialNo, c.verified ? 38 : 7) << c.name;
        EXPECT_EQ(r.timeOuts, 3) << c.name;
        EXPECT_EQ(r.station, QStringLiteral("line A")) << c.name;
    }
}
