#include "image/parameter_image.h"
#include "sim/virtual_selector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace quarvel;
using namespace quarvel::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Everything the model sent in answer, flattened, ignoring delays.
Bytes flatten(const std::vector<Emission>& emissions)
{
    Bytes all;
    for (const auto& e : emissions)
        all.insert(all.end(), e.bytes.begin(), e.bytes.end());
    return all;
}

Bytes send(VirtualSelector& model, const Bytes& bytes, std::int64_t nowMs = 0)
{
    return flatten(model.receive(bytes, nowMs));
}

struct RequestCase
{
    const char* name;
    Bytes request;
    Bytes reply; // empty: the selector stays silent
    FrameKind kind;
};

// Factory memory: cell 0 is the low byte of 3120 (0x0C30), cell 188 is 0.
const RequestCase kRequestCases[] = {
    {"read_address_0", {225, 0, 8, 6, 239}, {225, 0, 0, 48, 17}, FrameKind::Read},
    {"read_address_188", {225, 188, 8, 6, 171}, {225, 188, 0, 0, 157}, FrameKind::Read},
    {"read_past_memory", {225, 189, 8, 6, 172}, {}, FrameKind::Other},
    {"read_odd_parameters", {225, 0, 8, 7, 240}, {}, FrameKind::Other},
    {"write_100_to_10", {226, 10, 85, 100, 165}, {226, 10, 85, 100, 165}, FrameKind::Write},
    {"write_past_memory", {226, 200, 85, 1, 0}, {}, FrameKind::Other},
    {"end_of_programming", {137, 1, 2, 3, 143}, {}, FrameKind::EndOfProgramming},
    {"start_sampling", {227, 1, 2, 3, 233}, {227, 1, 2, 3, 233}, FrameKind::StartSampling},
    {"end_sampling", {132, 1, 2, 3, 138}, {}, FrameKind::EndSampling},
    {"fixed_frame", {226, 223, 1, 239, 177}, {}, FrameKind::Fixed},
    {"unknown_command", {100, 1, 2, 3, 106}, {}, FrameKind::Other},
};

class RequestTest : public ::testing::TestWithParam<RequestCase>
{
};

TEST_P(RequestTest, AnswersWithTheExactReply)
{
    const auto& c = GetParam();
    VirtualSelector model;
    const auto emissions = model.receive(c.request, 5);
    EXPECT_EQ(flatten(emissions), c.reply);
    if (!c.reply.empty()) {
        ASSERT_EQ(emissions.size(), 1u);
        EXPECT_EQ(emissions[0].delayMs, 0);
    }
    link::Frame frame{};
    std::copy(c.request.begin(), c.request.end(), frame.begin());
    EXPECT_EQ(VirtualSelector::classify(frame), c.kind);
    ASSERT_EQ(model.log().size(), 1u);
    EXPECT_EQ(model.log()[0].frame, frame);
    EXPECT_EQ(model.counts().replies, c.reply.empty() ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Frames, RequestTest, ::testing::ValuesIn(kRequestCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualSelectorTest, WriteThenReadBack)
{
    VirtualSelector model;
    EXPECT_EQ(send(model, {226, 50, 85, 77, 182}), (Bytes{226, 50, 85, 77, 182}));
    EXPECT_EQ(model.cell(50), 77);
    EXPECT_EQ(send(model, {225, 50, 8, 6, 33}), (Bytes{225, 50, 0, 77, 96}));
}

TEST(VirtualSelectorTest, SamplingModeFollowsStartAndEndFrames)
{
    VirtualSelector model;
    EXPECT_FALSE(model.insertCoin(0).has_value());
    send(model, {227, 1, 2, 3, 233});
    EXPECT_TRUE(model.isSampling());
    EXPECT_TRUE(model.insertCoin(0).has_value());
    send(model, {132, 1, 2, 3, 138});
    EXPECT_FALSE(model.isSampling());
    EXPECT_FALSE(model.insertCoin(0).has_value());
}

TEST(VirtualSelectorTest, FrameArrivingByteByByteIsAnsweredOnItsLastByte)
{
    VirtualSelector model;
    const Bytes request{225, 0, 8, 6, 239};
    for (std::size_t i = 0; i + 1 < request.size(); ++i)
        EXPECT_TRUE(model.receive(Bytes{request[i]}, static_cast<std::int64_t>(i)).empty());
    EXPECT_EQ(send(model, Bytes{request.back()}, 4), (Bytes{225, 0, 0, 48, 17}));
    ASSERT_EQ(model.log().size(), 1u);
    EXPECT_EQ(model.log()[0].timeMs, 4);
}

struct ResyncCase
{
    const char* name;
    std::vector<std::pair<std::int64_t, Bytes>> chunks; // (time, bytes)
    Bytes replies;
    std::int64_t badBytes;
};

const ResyncCase kResyncCases[] = {
    // A corrupt read of address 0 in front of a good read of address 5.
    {"bad_checksum_then_good_frame", {{0, {225, 0, 8, 6, 240, 225, 5, 8, 6, 244}}}, {225, 5, 0, 61, 35}, 5},
    {"garbage_before_frame", {{0, {0x55, 0xAA, 0x01, 225, 5, 8, 6, 244}}}, {225, 5, 0, 61, 35}, 3},
    {"two_frames_in_one_chunk",
     {{0, {225, 0, 8, 6, 239, 225, 5, 8, 6, 244}}},
     {225, 0, 0, 48, 17, 225, 5, 0, 61, 35},
     0},
    // A broken transmission, then the host's retry after its time-out: the pause clears it.
    {"partial_frame_then_pause", {{0, {225, 0, 8}}, {200, {225, 5, 8, 6, 244}}}, {225, 5, 0, 61, 35}, 3},
    // Without a pause the stale bytes are slid past one by one.
    {"partial_frame_without_pause", {{0, {225, 0, 8}}, {10, {225, 5, 8, 6, 244}}}, {225, 5, 0, 61, 35}, 3},
    {"lone_checksum_error", {{0, {225, 0, 8, 6, 238}}}, {}, 1},
    // After a pause the last byte of an old request must not complete it.
    {"stale_bytes_not_completed_after_pause", {{0, {225, 0, 8, 6}}, {51, {239}}}, {}, 4},
    {"slow_bytes_within_the_gap", {{0, {225, 0, 8, 6}}, {50, {239}}}, {225, 0, 0, 48, 17}, 0},
};

class ResyncTest : public ::testing::TestWithParam<ResyncCase>
{
};

TEST_P(ResyncTest, IgnoresBadBytesAndFindsTheNextFrame)
{
    const auto& c = GetParam();
    VirtualSelector model;
    Bytes replies;
    for (const auto& [time, bytes] : c.chunks) {
        const auto more = send(model, bytes, time);
        replies.insert(replies.end(), more.begin(), more.end());
    }
    EXPECT_EQ(replies, c.replies);
    EXPECT_EQ(model.counts().badBytes, c.badBytes);
}

INSTANTIATE_TEST_SUITE_P(Framing, ResyncTest, ::testing::ValuesIn(kResyncCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualSelectorTest, LogKeepsEveryFrameWithItsTimeAndSummaryCountsThem)
{
    VirtualSelector model;
    send(model, {225, 0, 8, 6, 239}, 10);
    send(model, {226, 10, 85}, 18);
    send(model, {100, 165}, 20);
    send(model, {137, 1, 2, 3, 143, 1, 2}, 30);
    send(model, {227, 1, 2, 3, 233, 132, 1, 2, 3, 138, 226, 223, 1, 239, 177, 9, 9, 9, 9, 36}, 500);

    const auto& log = model.log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0].timeMs, 10);
    EXPECT_EQ(log[1].timeMs, 20);
    EXPECT_EQ(log[1].frame, (link::Frame{226, 10, 85, 100, 165}));
    EXPECT_EQ(log[2].timeMs, 30);
    EXPECT_EQ(log[6].frame, (link::Frame{9, 9, 9, 9, 36}));
    EXPECT_EQ(model.summary(), "frames 7: reads 1, writes 1, end-of-programming 1, sampling start 1, "
                               "sampling end 1, fixed 1, other 1; bad bytes 2; replies 3; coins 0");
}

TEST(VirtualSelectorTest, LoadsAnImageAsWholeBytes)
{
    ParameterImage image;
    const std::pair<int, const char*> cells[] = {{0, "300"}, {1, "12.5"}, {2, "13.5"}, {3, ""},
                                                 {4, "-1"},  {5, "abc"},  {6, " 7x"},  {188, "255"}};
    for (const auto& [address, text] : cells)
        image.setText(address, text);
    VirtualSelector model;
    model.loadImage(image);
    const Bytes expected{44, 12, 14, 0, 255, 0, 7};
    for (int a = 0; a < 7; ++a)
        EXPECT_EQ(model.cell(a), expected[static_cast<std::size_t>(a)]) << "address " << a;
    EXPECT_EQ(model.cell(188), 255);
    EXPECT_EQ(model.cell(100), 0);

    const auto back = model.image();
    EXPECT_EQ(back.text(0), "44");
    EXPECT_EQ(back.text(188), "255");
    EXPECT_EQ(back.text(189), "");
}

TEST(VirtualSelectorTest, FactoryMemoryLooksLikeAProgrammedSelector)
{
    const auto m = VirtualSelector::factoryMemory();
    const auto types = coinTypes();
    ASSERT_EQ(types.size(), 12u);
    for (int n = 0; n < 12; ++n) {
        const int a = m[7 * n] + 256 * m[7 * n + 1];
        EXPECT_NEAR(a, types[static_cast<std::size_t>(n)].meanA, 1) << "channel " << n + 1;
        EXPECT_GE(a, 3000);
        EXPECT_LE(a, 9000);
        EXPECT_EQ(m[7 * n + 4] & 0x80, 0) << "channel " << n + 1 << " disabled";
        EXPECT_EQ(m[7 * n + 6], types[static_cast<std::size_t>(n)].value);
        EXPECT_EQ(m[129 + n], 85);
        EXPECT_EQ(m[141 + n], 153);
    }
    EXPECT_EQ((Bytes{m[120], m[121], m[122], m[123]}), (Bytes{4, 52, 107, 61}));
    EXPECT_EQ(std::string(m.begin() + 177, m.begin() + 183), "TESMOR");
}

// Runs one read of address `address` (memory cell i holds 10 + i) and returns what came back.
struct FaultRig
{
    VirtualSelector model;

    explicit FaultRig(std::string_view plan)
    {
        Bytes memory(VirtualSelector::kCellCount);
        for (std::size_t i = 0; i < memory.size(); ++i)
            memory[i] = static_cast<std::uint8_t>(10 + i);
        model.loadMemory(memory);
        const auto parsed = FaultPlan::parse(plan);
        EXPECT_TRUE(parsed.plan.has_value()) << parsed.error;
        if (parsed.plan) model.setFaultPlan(*parsed.plan);
    }

    std::vector<Emission> read(std::uint8_t address, std::int64_t nowMs)
    {
        const auto f = link::readRequest(address);
        return model.receive(f, nowMs);
    }
};

struct FaultCase
{
    const char* name;
    const char* plan;
    std::vector<Emission> second; // what reply 2 (address 1) turns into
    std::vector<Emission> third;  // and reply 3 (address 2)
};

const Bytes kReply1{225, 1, 0, 11, 237};
const Bytes kReply2{225, 2, 0, 12, 239};

const FaultCase kFaultCases[] = {
    {"none", "", {{0, kReply1}}, {{0, kReply2}}},
    {"drop", "drop:2", {}, {{0, kReply2}}},
    {"late", "late:2:250ms", {{250, kReply1}}, {{0, kReply2}}},
    {"bad_checksum", "badsum:2", {{0, {225, 1, 0, 11, 238}}}, {{0, kReply2}}},
    {"bad_command", "badcmd:2", {{0, {226, 1, 0, 11, 238}}}, {{0, kReply2}}},
    {"bad_address", "badaddr:2", {{0, {225, 2, 0, 11, 238}}}, {{0, kReply2}}},
    {"split", "split:2:3", {{0, {225, 1}}, {2, {0, 11}}, {4, {237}}}, {{0, kReply2}}},
    {"split_beyond_bytes",
     "split:2:16",
     {{0, {225}}, {2, {1}}, {4, {0}}, {6, {11}}, {8, {237}}},
     {{0, kReply2}}},
    {"merge", "merge:2", {}, {{0, {225, 1, 0, 11, 237, 225, 2, 0, 12, 239}}}},
    {"merge_then_drop", "merge:2,drop:3", {}, {}},
    {"late_and_bad_checksum", "late:2:100,badsum:2", {{100, {225, 1, 0, 11, 238}}}, {{0, kReply2}}},
    {"fault_on_another_reply", "drop:5", {{0, kReply1}}, {{0, kReply2}}},
};

class FaultTest : public ::testing::TestWithParam<FaultCase>
{
};

TEST_P(FaultTest, HitsExactlyTheNamedReply)
{
    const auto& c = GetParam();
    FaultRig rig(c.plan);
    EXPECT_EQ(rig.read(0, 0), (std::vector<Emission>{{0, {225, 0, 0, 10, 235}}}));
    EXPECT_EQ(rig.read(1, 1000), c.second);
    EXPECT_EQ(rig.read(2, 2000), c.third);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualSelectorFaultTest, NoiseGoesAroundTheReply)
{
    FaultRig rig("garbage:1:4,extra:2:3,seed:9");
    const auto first = flatten(rig.read(1, 0));
    ASSERT_EQ(first.size(), 9u);
    EXPECT_EQ(Bytes(first.begin() + 4, first.end()), kReply1);
    const auto second = flatten(rig.read(2, 1000));
    ASSERT_EQ(second.size(), 8u);
    EXPECT_EQ(Bytes(second.begin(), second.begin() + 5), kReply2);
}

TEST(VirtualSelectorFaultTest, RetryIsANewReplyIndex)
{
    FaultRig rig("drop:1,drop:2");
    EXPECT_TRUE(rig.read(1, 0).empty());
    EXPECT_TRUE(rig.read(1, 200).empty());
    EXPECT_EQ(flatten(rig.read(1, 400)), kReply1);
}

TEST(VirtualSelectorFaultTest, FramesWithoutReplyDoNotCount)
{
    FaultRig rig("drop:2");
    EXPECT_EQ(flatten(rig.read(2, 0)), kReply2);
    EXPECT_TRUE(rig.model.receive(link::endOfProgrammingFrame(), 100).empty());
    EXPECT_TRUE(rig.read(1, 200).empty());
}

TEST(VirtualSelectorFaultTest, GoneSelectorAnswersNothingAndStoresNothing)
{
    FaultRig rig("gone:2");
    EXPECT_EQ(flatten(rig.model.receive(link::writeRequest(5, 99), 0)), (Bytes{226, 5, 85, 99, 159}));
    EXPECT_FALSE(rig.model.isGone());
    EXPECT_TRUE(rig.model.receive(link::writeRequest(6, 99), 100).empty());
    EXPECT_TRUE(rig.model.isGone());
    EXPECT_EQ(rig.model.cell(6), 16);
    EXPECT_TRUE(rig.read(1, 200).empty());
    EXPECT_TRUE(rig.model.receive(link::startSamplingFrame(), 300).empty());
    EXPECT_FALSE(rig.model.insertCoin(0).has_value());
    EXPECT_EQ(rig.model.log().size(), 4u); // the host's frames are still seen
    EXPECT_NE(rig.model.summary().find("; gone"), std::string::npos);
}

TEST(VirtualSelectorFaultTest, ReplyDelayAddsToEveryReply)
{
    FaultRig rig("late:1:40");
    rig.model.setReplyDelayMs(3);
    EXPECT_EQ(rig.read(1, 0), (std::vector<Emission>{{43, kReply1}}));
    EXPECT_EQ(rig.read(2, 100), (std::vector<Emission>{{3, kReply2}}));
}

std::vector<std::vector<Emission>> randomRun(std::string_view plan, int reads)
{
    FaultRig rig(plan);
    std::vector<std::vector<Emission>> run;
    for (int i = 0; i < reads; ++i)
        run.push_back(rig.read(static_cast<std::uint8_t>(i % 189), i * 1000));
    return run;
}

TEST(VirtualSelectorFaultTest, RandomPlanIsReproducibleFromItsSeed)
{
    const auto a = randomRun("random:0.2,seed:7", 300);
    EXPECT_EQ(a, randomRun("random:0.2,seed:7", 300));
    EXPECT_NE(a, randomRun("random:0.2,seed:8", 300));

    const auto clean = randomRun("", 300);
    int hit = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        hit += a[i] != clean[i] ? 1 : 0;
    // About one reply in five, give or take what a seed makes of it (merges touch two).
    EXPECT_GT(hit, 30);
    EXPECT_LT(hit, 120);
}

TEST(MeasurementRecordTest, HandWrittenRecords)
{
    const struct
    {
        CoinSample sample;
        MeasurementRecord record;
    } cases[] = {
        {{0x91, 3120, 42, 0, 61, 88, 35}, {0x91, 12, 48, 42, 247, 0, 61, 88, 35, 184}},
        {{0x92, 0x7FFF, 255, 7, 255, 255, 255}, {0x92, 0x7F, 0xFF, 255, 0x0F, 7, 255, 255, 255, 0x04}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(measurementRecord(c.sample), c.record);
}

TEST(MeasurementRecordTest, InsertedCoinsCarryValidRecordsAroundTheTypeMean)
{
    VirtualSelector model(42);
    model.setRecordType(0x10);
    model.setIrregularRecordType(0x93);
    model.setSpareByte(0xE3);
    model.receive(link::startSamplingFrame(), 0);
    const auto types = coinTypes();
    for (int t = 0; t < static_cast<int>(types.size()); ++t) {
        double sumA = 0;
        const int n = 60;
        for (int i = 0; i < n; ++i) {
            const bool irregular = i % 10 == 0;
            const auto e = model.insertCoin(t, irregular);
            ASSERT_TRUE(e.has_value() && e->size() == 1);
            const auto& r = e->front().bytes;
            ASSERT_EQ(r.size(), 10u);
            EXPECT_EQ(r[0], irregular ? 0x93 : 0x10);
            EXPECT_EQ(r[5], 0xE3);
            EXPECT_EQ(r[4], link::checksum(r[0], r[1], r[2], r[3]));
            EXPECT_EQ(r[9], link::checksum(r[5], r[6], r[7], r[8]));
            EXPECT_LT(r[1], 128);
            sumA += r[1] * 256 + r[2];
        }
        EXPECT_NEAR(sumA / n, types[static_cast<std::size_t>(t)].meanA,
                    4 * types[static_cast<std::size_t>(t)].spreadA)
            << types[static_cast<std::size_t>(t)].name;
    }
    EXPECT_FALSE(model.insertCoin(12).has_value());
    EXPECT_FALSE(model.insertCoin(-1).has_value());
    EXPECT_EQ(model.counts().coins, 12 * 60);
}

// Records count as replies for the fault plan: the start answer is reply 1.
TEST(MeasurementRecordTest, FaultPlanReachesRecords)
{
    VirtualSelector model;
    model.setFaultPlan(FaultPlan::parse("drop:2,split:3:2,late:4:30ms,gone:5").plan.value());
    model.receive(link::startSamplingFrame(), 0);
    EXPECT_EQ(model.insertCoin(0)->size(), 0u);
    const auto split = model.insertCoin(0).value();
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0].bytes.size() + split[1].bytes.size(), 10u);
    EXPECT_EQ(model.insertCoin(0)->front().delayMs, 30);
    EXPECT_EQ(model.insertCoin(0)->size(), 0u);
    EXPECT_TRUE(model.isGone());
    EXPECT_FALSE(model.insertCoin(0).has_value());
}

TEST(MeasurementRecordTest, SameSeedSameCoins)
{
    VirtualSelector a(5), b(5), c(6);
    for (auto* m : {&a, &b, &c})
        m->receive(link::startSamplingFrame(), 0);
    bool differs = false;
    for (int i = 0; i < 20; ++i) {
        const auto ra = a.insertCoin(i % 12);
        EXPECT_EQ(ra, b.insertCoin(i % 12));
        differs = differs || ra != c.insertCoin(i % 12);
    }
    EXPECT_TRUE(differs);
}

} // namespace

namespace {

// The station's operator: a unit is taken off only once the host has gone over to slow polls,
// stays away for the drawn gap, and the next one is new (its own serial number); one taken off
// too early, in the middle of programming, comes back as it was once the host is done with it.
TEST(StationSwaps, TakesAWrittenUnitOffWhenThePollsComeAndPutsTheNextOn)
{
    for (const bool putBack : {false, true}) {
        SCOPED_TRACE(putBack ? "put back" : "new");
        VirtualSelector model;
        SwapPlan plan;
        plan.minGapMs = plan.maxGapMs = 700;
        plan.quietMs = 400;
        plan.cutAfterWrites = 2;
        if (putBack) plan.putBack = {1};
        model.setStationSwaps(plan);
        const auto answered = [&model](std::int64_t at) {
            return !model.receive(link::readRequest(85), at).empty();
        };
        const std::int64_t t0 = 50000; // the operator's clock need not start at 0
        ASSERT_TRUE(answered(t0)) << "never taken off before it was written to";
        ASSERT_TRUE(answered(t0 + 600));
        for (std::int64_t t = t0 + 700; t < t0 + 1000; t += 250) // a closing pause apart
            model.receive(link::writeRequest(3, 99), t);
        EXPECT_EQ(answered(t0 + 1500), !putBack) << "one slow gap is a pause, not the polls";
        EXPECT_FALSE(answered(t0 + 2000)) << "taken off at the second";
        EXPECT_FALSE(answered(t0 + 2500)) << "still away";
        EXPECT_TRUE(!putBack || !answered(t0 + 3000)) << "the operator reads the result first";
        EXPECT_TRUE(answered(t0 + (putBack ? 3300 : 2800)));
        EXPECT_EQ(model.cell(85) == VirtualSelector::factoryMemory()[85], putBack);
        EXPECT_EQ(model.cell(3) == 99, putBack);
        EXPECT_EQ(model.stationSwaps()->unitsPutOn(), 2);
    }
}

} // namespace

// Halves apart, the start answer repeated before or between them, and a plan that splits the
// record as well: the bytes on the line are always the whole record, in order, with the answer
// where it was asked for, and the second half no earlier than the gap after the first.
TEST(MeasurementRecordTest, HalvesApartAndRepeatedAnswer)
{
    struct Case
    {
        const char* name;
        std::int64_t gapMs;
        VirtualSelector::RepeatedAnswer answer;
        const char* plan;
        std::size_t answerAt; // where the answer lies in the bytes sent; 99: none
    };
    const std::vector<Case> cases{
        {"halves 250 ms apart", 250, {}, "", 99},
        {"answer before the second coin, back to back", 0, {2, false}, "", 0},
        {"answer between the halves, a second apart", 1000, {2, true}, "", 5},
        {"halves apart and the record split in three", 60, {2, true}, "split:3:3", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualSelector model;
        model.setHalfGapMs(c.gapMs);
        model.setRepeatedAnswer(c.answer);
        model.setFaultPlan(FaultPlan::parse(c.plan).plan.value());
        const auto answer = model.receive(link::startSamplingFrame(), 0).front().bytes;
        model.insertCoin(0);
        const auto emissions = model.insertCoin(1).value();
        std::vector<std::uint8_t> bytes;
        std::int64_t firstHalfMs = 0;
        std::int64_t secondHalfMs = 0;
        for (const auto& e : emissions) {
            for (const auto b : e.bytes) {
                bytes.push_back(b);
                const std::size_t recordByte =
                    bytes.size() - 1 - (c.answerAt == 99 || bytes.size() <= c.answerAt ? 0 : 5);
                if (recordByte == 4) firstHalfMs = e.delayMs;
                if (recordByte == 5) secondHalfMs = e.delayMs;
            }
        }
        ASSERT_EQ(bytes.size(), c.answerAt == 99 ? 10u : 15u);
        if (c.answerAt != 99) {
            EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(c.answerAt),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(c.answerAt + 5)),
                      answer);
        }
        EXPECT_GE(secondHalfMs - firstHalfMs, c.gapMs);
    }
}
