#include "link/program_transfer.h"
#include "link/read_transfer.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace quarvel;
using namespace quarvel::link;

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the fake selector does with one request. Everything but Answer is a failed exchange.
enum class Act
{
    Answer,
    TimeOut,
    WrongEcho,
    WrongAddress,
    WrongData,
    BadChecksum,
    Short
};
using Script = std::vector<std::pair<int, Act>>; // (address, act), taken in order per address

// A scripted selector: answers like the device unless the script says otherwise. The test, not
// a clock, decides when an exchange times out.
struct FakeSelector
{
    std::array<std::uint8_t, 189> memory{};
    std::multimap<int, Act> script;
    std::optional<Bytes> fixedReply; // when set, the answer to every request
    bool loopback = false;           // every request comes back as it was sent
    std::vector<int> written;        // addresses of accepted writes, in order

    explicit FakeSelector(const Script& s = {}) : script(s.begin(), s.end()) {}

    // Empty when the selector stays silent.
    std::optional<Bytes> answer(const Frame& request)
    {
        const int address = request[1];
        Act act = Act::Answer;
        if (auto it = script.find(address); it != script.end()) {
            act = it->second;
            script.erase(it);
        }
        if (act == Act::TimeOut) return std::nullopt;
        if (loopback) return Bytes(request.begin(), request.end());
        Frame reply = request[0] == command::kRead ? makeFrame(command::kRead, request[1], 0, memory[address])
                                                   : makeFrame(command::kWrite, request[1], 85, request[3]);
        if (request[0] == command::kWrite) {
            memory[address] = request[3];
            written.push_back(address);
        }
        if (fixedReply) return fixedReply;
        if (act == Act::WrongEcho) reply = makeFrame(reply[0] ^ 1, reply[1], reply[2], reply[3]);
        if (act == Act::WrongAddress) reply = makeFrame(reply[0], reply[1] - 1, reply[2], reply[3]);
        if (act == Act::WrongData) reply = makeFrame(reply[0], reply[1], reply[2], reply[3] + 1);
        if (act == Act::BadChecksum) ++reply[4];
        Bytes bytes(reply.begin(), reply.end());
        if (act == Act::Short) // exact size, so a read past its end is caught by the sanitizers
            bytes = Bytes(reply.begin(), reply.begin() + 4);
        return bytes;
    }
};

struct Trace
{
    std::vector<Frame> sent;
    std::vector<std::vector<Report>> reports; // per step, in order
    Step last;
};

Trace drive(Transfer& transfer, FakeSelector& selector)
{
    Trace run;
    Step step = transfer.start();
    for (int guard = 0; guard < 2000; ++guard) {
        run.reports.push_back(step.reports);
        if (step.send) run.sent.push_back(*step.send);
        if (step.outcome != Outcome::Running) break;
        const auto bytes = selector.answer(*step.send);
        step = bytes ? transfer.reply(*bytes) : transfer.timeout(0);
    }
    run.last = step;
    return run;
}

// An image whose every cell is recognisable, to tell written cells from untouched ones.
ParameterImage markedImage()
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kCellCount; ++a)
        image.setText(a, "cell" + std::to_string(a));
    return image;
}

// What a read handed over, stored into image as its owner does.
void storeRead(const Transfer& read, ParameterImage& image)
{
    store(std::get<ReadCells>(read.summary().output), image);
}

const ShowText kTimeOutText{"Communication time out !", StatusColour::Red};
const ShowText kReadErrorText{"Read selector error", StatusColour::Red};
const ShowText kProgramErrorText{"Program to selector error", StatusColour::Red};
const Report kBlue = SetColour{StatusColour::Blue};
Report at(int address)
{
    return SetProgress{address, std::nullopt};
}

} // namespace

TEST(ReadTransfer, CleanReadStoresAllCellsAndNothingElse)
{
    FakeSelector selector;
    for (int a = 0; a < 189; ++a)
        selector.memory[a] = static_cast<std::uint8_t>(a * 7);
    selector.memory[3] = 0;
    selector.memory[4] = 255;
    ParameterImage image = markedImage();
    ReadTransfer read;

    const Trace run = drive(read, selector);
    storeRead(read, image);

    ASSERT_EQ(run.sent.size(), 189u);
    EXPECT_EQ(run.sent[0], (Frame{225, 0, 8, 6, 239}));
    EXPECT_EQ(run.sent[10], (Frame{225, 10, 8, 6, 249}));
    EXPECT_EQ(run.sent[188], (Frame{225, 188, 8, 6, 171}));
    EXPECT_EQ(image.text(3), "0");
    EXPECT_EQ(image.text(4), "255");
    EXPECT_EQ(image.text(100), "188"); // 700 mod 256
    for (int a = 189; a < ParameterImage::kCellCount; ++a)
        EXPECT_EQ(image.text(a), "cell" + std::to_string(a));
    EXPECT_TRUE(read.opened());
    EXPECT_EQ(run.last.outcome, Outcome::Succeeded);
    EXPECT_EQ(run.last.pause, Pause::FromLastSend);
    EXPECT_FALSE(run.last.send);
    EXPECT_EQ(run.reports[0], (std::vector<Report>{ShowText{"Try to communicate", StatusColour::Blue},
                                                   SetProgress{0, 189}, kBlue, at(0)}));
}

// Every read closes with the pause, and fails in the words of whoever asked for it.
TEST(ReadTransfer, EveryReadPausesAndFailsInItsOwnerWords)
{
    FakeSelector selector;
    ReadTransfer good(0, 1, "Program to selector error");
    EXPECT_EQ(drive(good, selector).last.pause, Pause::FromLastSend);
    FakeSelector silent(
        {{0, Act::TimeOut}, {0, Act::TimeOut}, {0, Act::TimeOut}, {0, Act::TimeOut}, {0, Act::TimeOut}});
    ReadTransfer failed(0, 1, "Program to selector error");
    const Trace run = drive(failed, silent);
    EXPECT_EQ(run.last.outcome, Outcome::Failed);
    EXPECT_EQ(run.last.pause, Pause::FromLastSend);
    EXPECT_EQ(run.last.reports.back(), Report(kProgramErrorText));
}

TEST(ReadTransfer, FailureBudgetCoversTheWholeRead)
{
    struct Case
    {
        const char* name;
        Script script;
        bool succeeds;
        std::size_t frames;
        int lastAddress; // of the last request sent
    };
    const Case cases[] = {
        {"four time-outs spread",
         {{0, Act::TimeOut}, {50, Act::TimeOut}, {100, Act::TimeOut}, {188, Act::TimeOut}},
         true,
         193,
         188},
        {"each kind of bad reply once",
         {{3, Act::WrongEcho}, {6, Act::WrongAddress}, {9, Act::BadChecksum}, {12, Act::Short}},
         true,
         193,
         188},
        {"fifth failure at another address",
         {{10, Act::TimeOut},
          {10, Act::TimeOut},
          {100, Act::TimeOut},
          {100, Act::TimeOut},
          {100, Act::TimeOut}},
         false,
         105,
         100},
        {"five kinds at five addresses",
         {{1, Act::WrongEcho},
          {2, Act::WrongAddress},
          {3, Act::BadChecksum},
          {4, Act::Short},
          {5, Act::TimeOut}},
         false,
         10,
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSelector selector(c.script);
        ParameterImage image = markedImage();
        ReadTransfer read;
        const Trace run = drive(read, selector);
        storeRead(read, image);
        EXPECT_EQ(run.sent.size(), c.frames);
        EXPECT_EQ(run.sent.back()[1], c.lastAddress);
        EXPECT_EQ(read.opened(), c.succeeds);
        ASSERT_EQ(run.last.outcome, c.succeeds ? Outcome::Succeeded : Outcome::Failed);
        EXPECT_EQ(run.last.pause, Pause::FromLastSend);
        if (!c.succeeds) {
            EXPECT_EQ(run.last.reports.back(), Report{kReadErrorText});
            // Cells before the failing address were read; the failing one and the rest are as before.
            EXPECT_EQ(image.text(c.lastAddress - 1), "0");
            EXPECT_EQ(image.text(c.lastAddress), "cell" + std::to_string(c.lastAddress));
        }
    }
}

TEST(ReadTransfer, NoSelectorLeavesImageUntouched)
{
    FakeSelector selector(Script(5, {0, Act::TimeOut}));
    const ParameterImage before = markedImage();
    ParameterImage image = before;
    ReadTransfer read;

    const Trace run = drive(read, selector);
    storeRead(read, image);

    EXPECT_EQ(run.sent, std::vector<Frame>(5, Frame{225, 0, 8, 6, 239}));
    EXPECT_EQ(image, before);
    EXPECT_FALSE(read.opened());
    // Each time-out turns the text red, the retry turns it blue again; the last ends in the error.
    EXPECT_EQ(run.reports[1], (std::vector<Report>{kTimeOutText, kBlue, at(0)}));
    EXPECT_EQ(run.reports[5], (std::vector<Report>{kTimeOutText, kReadErrorText}));
}

TEST(ReadTransfer, ReplyEchoingAnotherAddressIsRequestedAgain)
{
    FakeSelector selector({{6, Act::WrongAddress}});
    ReadTransfer read;
    const Trace run = drive(read, selector);
    ASSERT_EQ(run.sent.size(), 190u);
    EXPECT_EQ(run.sent[6][1], 6);
    EXPECT_EQ(run.sent[7][1], 6);
    EXPECT_EQ(run.reports[7], (std::vector<Report>{kBlue, at(6)})); // no text of its own
}

TEST(ProgramTransfer, CleanRangeWritesEveryCellThenEndFrame)
{
    FakeSelector selector;
    ParameterImage image;
    image.setText(10, "100");
    ProgramTransfer program(image, 0, 188);

    const Trace run = drive(program, selector);

    ASSERT_EQ(run.sent.size(), 190u);
    EXPECT_EQ(run.sent[10], (Frame{226, 10, 85, 100, 165}));
    EXPECT_EQ(run.sent.back(), (Frame{137, 1, 2, 3, 143}));
    EXPECT_EQ(run.last.replyBytes, 0);
    EXPECT_EQ(run.last.outcome, Outcome::Succeeded);
    EXPECT_EQ(run.last.pause, Pause::FromNow);
    EXPECT_EQ(run.reports[0], (std::vector<Report>{ShowText{"Communication", StatusColour::Blue},
                                                   SetProgress{0, 189}, kBlue, at(0)}));
}

// The line's thread sends while the owner's edits its document: what goes out is the image as
// it was when the transfer was made.
TEST(ProgramTransfer, SendsTheImageItWasGivenWhateverIsEditedMeanwhile)
{
    FakeSelector selector;
    ParameterImage image;
    image.setText(1, "7");
    ProgramTransfer program(image, 0, 2);
    image.setText(1, "9");
    drive(program, selector);
    EXPECT_EQ(selector.memory[1], 7);
}

TEST(ProgramTransfer, StampedFixedCellsAreSentWhateverTheRange)
{
    const std::vector<std::pair<int, std::string>> stamps{{120, "4"},  {121, "52"}, {122, "107"}, {123, "61"},
                                                          {177, "84"}, {178, "69"}, {179, "83"},  {180, "77"},
                                                          {181, "79"}, {182, "82"}};
    for (const auto& [begin, total] : {std::pair{0, 84}, std::pair{86, 123}, std::pair{128, 188}}) {
        SCOPED_TRACE(begin);
        FakeSelector selector;
        ParameterImage image = markedImage();
        stampFixedCells(image);
        ProgramTransfer program(image, begin, total);
        drive(program, selector);
        for (const auto& [address, text] : stamps) {
            EXPECT_EQ(image.text(address), text);
            if (address >= begin && address <= total) { // sent as stamped, not as the old text
                EXPECT_EQ(selector.memory[address], std::stoi(text));
            }
        }
    }
}

TEST(ProgramTransfer, CellTextBecomesOneByte)
{
    const std::pair<const char*, int> cases[] = {
        {"300", 44},  {"12.5", 12}, {"13.5", 14}, {"", 0},     {"12ab", 12}, {"abc", 0},    {" 7", 7},
        {"255", 255}, {"256", 0},   {"255.5", 0}, {"-1", 255}, {"-256", 0},  {"-257", 255}, {"-0.5", 0},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        FakeSelector selector;
        ParameterImage image;
        image.setText(30, text);
        ProgramTransfer program(image, 30, 30); // single cell: one write, then the end frame
        const Trace run = drive(program, selector);
        ASSERT_EQ(run.sent.size(), 2u);
        EXPECT_EQ(run.sent[0][3], value);
        EXPECT_TRUE(hasValidChecksum(run.sent[0]));
        EXPECT_EQ(run.sent[1], endOfProgrammingFrame());
    }
}

TEST(ProgramTransfer, RepliesAreCheckedForCommandAndChecksumOnly)
{
    struct Case
    {
        const char* name;
        Script script;
        std::optional<Bytes> fixedReply;
        bool succeeds;
        std::size_t frames;
        int unprovenFrom = -1; // the cells from here to the end are to be read back
    };
    const Case cases[] = {
        {"any address accepts 226,0,0,0,226", {}, Bytes{226, 0, 0, 0, 226}, true, 39},
        {"bad replies retried",
         {{90, Act::WrongEcho}, {91, Act::BadChecksum}, {92, Act::Short}},
         {},
         true,
         42},
        // What a selector echoes never refuses it: a reply unlike the ones before only leaves
        // the cells from there unproven.
        {"another address after echoes", {{90, Act::WrongAddress}}, {}, true, 39, 90},
        {"other data after echoes", {{90, Act::WrongData}}, {}, true, 39, 90},
        {"a time-out", {{100, Act::TimeOut}}, {}, true, 40, 100},
        {"first reply without the address: never examined",
         {{86, Act::WrongAddress}, {90, Act::WrongAddress}},
         {},
         true,
         39},
        {"fifth failure, no end frame", Script(5, {100, Act::TimeOut}), {}, false, 19},
        {"checksum-valid read echo refused", {}, Bytes{225, 0, 0, 0, 225}, false, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSelector selector(c.script);
        selector.fixedReply = c.fixedReply;
        ParameterImage image;
        for (int a = 86; a <= 123; ++a)
            image.setNumber(a, a); // an echo of the data is told from a constant only by values that differ
        ProgramTransfer program(image, 86, 123);
        const Trace run = drive(program, selector);
        EXPECT_EQ(run.sent.size(), c.frames);
        ASSERT_EQ(run.last.outcome, c.succeeds ? Outcome::Succeeded : Outcome::Failed);
        EXPECT_EQ(run.last.pause, Pause::FromNow);
        EXPECT_EQ(run.sent.back() == endOfProgrammingFrame(), c.succeeds);
        if (!c.succeeds) {
            EXPECT_EQ(run.last.reports.back(), Report{kProgramErrorText});
            continue;
        }
        const auto unproven = std::get<UnprovenCells>(program.summary().output).cells;
        EXPECT_EQ(unproven.empty() ? -1 : unproven.front(), c.unprovenFrom);
        if (!unproven.empty()) {
            EXPECT_EQ(unproven.back(), 123);
        }
    }
}

TEST(ProgramTransfer, RetryRepeatsTheExactRequest)
{
    ParameterImage image;
    image.setText(50, "7");
    ProgramTransfer program(image, 50, 51);
    const Step first = program.start();
    image.setText(50, "8"); // edited in another window while the exchange waits
    const Step retry = program.timeout(0);
    EXPECT_EQ(retry.send, first.send);
    EXPECT_EQ(retry.reports, (std::vector<Report>{kTimeOutText, kBlue, at(50)}));
}

TEST(ProgramTransfer, RangeOutsideTheSelectorIsRefused)
{
    for (const auto& [begin, total] : {std::pair{-1, 10}, std::pair{0, 189}, std::pair{50, 49},
                                       std::pair{189, 189}, std::pair{300, 200}}) {
        SCOPED_TRACE(begin);
        const ParameterImage before = markedImage();
        ParameterImage image = before;
        ProgramTransfer program(image, begin, total);
        const Step step = program.start();
        EXPECT_FALSE(step.send);
        EXPECT_EQ(step.outcome, Outcome::Failed);
        EXPECT_EQ(step.reports.back(), Report{kProgramErrorText});
        EXPECT_EQ(image, before);
    }
}

TEST(ProgramJobs, ThreeRangesRunEvenAfterAFailedFirst)
{
    std::vector<int> expected;
    for (int a = 0; a <= 188; ++a)
        if (a != 85 && (a < 124 || a > 127)) expected.push_back(a);

    for (const bool firstFails : {false, true}) {
        SCOPED_TRACE(firstFails);
        FakeSelector selector(firstFails ? Script(5, {0, Act::TimeOut}) : Script{});
        ParameterImage image;
        auto jobs = programJobs(image);
        ASSERT_EQ(jobs.size(), 3u);
        std::vector<Outcome> outcomes;
        int endFrames = 0;
        for (auto& job : jobs) {
            const Trace run = drive(*job, selector);
            outcomes.push_back(run.last.outcome);
            endFrames += run.sent.back() == endOfProgrammingFrame();
        }
        const auto firstOutcome = firstFails ? Outcome::Failed : Outcome::Succeeded;
        EXPECT_EQ(outcomes, (std::vector<Outcome>{firstOutcome, Outcome::Succeeded, Outcome::Succeeded}));
        EXPECT_EQ(endFrames, firstFails ? 2 : 3);
        if (firstFails) expected.erase(expected.begin(), expected.begin() + 85);
        EXPECT_EQ(selector.written, expected);
    }
}

TEST(Transfers, AbortEndsWithOwnFailureTextAndSendsNothingMore)
{
    struct Case
    {
        const char* name;
        std::function<std::unique_ptr<Transfer>(ParameterImage&)> make;
        ShowText failure;
        Pause pause;
    };
    const Case cases[] = {
        {"read", [](ParameterImage&) { return std::make_unique<ReadTransfer>(); }, kReadErrorText,
         Pause::FromLastSend},
        {"program", [](ParameterImage& i) { return std::make_unique<ProgramTransfer>(i, 0, 10); },
         kProgramErrorText, Pause::FromNow},
    };
    for (const Case& c : cases) {
        for (auto reason : {Transfer::AbortReason::UserCancel, Transfer::AbortReason::PortLost}) {
            SCOPED_TRACE(c.name);
            ParameterImage image;
            auto transfer = c.make(image);
            transfer->start();
            const Step aborted = transfer->abort(reason);
            EXPECT_EQ(aborted.reports, std::vector<Report>{c.failure});
            EXPECT_FALSE(aborted.send); // in particular no end-of-programming frame
            EXPECT_EQ(aborted.outcome, Outcome::Failed);
            EXPECT_EQ(aborted.pause, c.pause);
            // A reply arriving late is ignored: nothing stored, nothing sent.
            const Step late = transfer->reply(Bytes{225, 0, 0, 9, 234});
            EXPECT_FALSE(late.send);
            EXPECT_EQ(late.outcome, Outcome::Failed);
            const TransferSummary summary = transfer->summary();
            if (const auto* cells = std::get_if<ReadCells>(&summary.output)) {
                EXPECT_TRUE(cells->values.empty());
            }
        }
    }
}

// Why each transfer ended, as its owner sees it, and what it counted on the way.
TEST(Transfers, SummarySaysWhyItEnded)
{
    struct Case
    {
        const char* name;
        std::function<std::unique_ptr<Transfer>(ParameterImage&)> make;
        Script script;
        bool loopback;
        std::optional<Transfer::AbortReason> abortAfterStart;
        EndReason reason;
        int cellsDone;
        std::array<int, 4> faults; // TimeOut, BadChecksum, WrongEcho, Echoed
        std::optional<ShowText> lastText;
    };
    const auto read = [](ParameterImage&) { return std::make_unique<ReadTransfer>(); };
    const auto program = [](ParameterImage& i) { return std::make_unique<ProgramTransfer>(i, 0, 84); };
    const ShowText echoText{"The port echoes what is sent: this is not a coin selector", StatusColour::Red};
    const Case cases[] = {
        {"read with a few faults",
         read,
         {{3, Act::TimeOut}, {4, Act::BadChecksum}, {5, Act::WrongAddress}},
         false,
         {},
         EndReason::Succeeded,
         189,
         {1, 1, 1, 0},
         {}},
        {"read out of retries",
         read,
         Script(5, {7, Act::TimeOut}),
         false,
         {},
         EndReason::RetriesUsedUp,
         7,
         {5, 0, 0, 0},
         kReadErrorText},
        {"read on a loopback line", read, {}, true, {}, EndReason::Refused, 189, {0, 0, 0, 189}, echoText},
        {"read cancelled",
         read,
         {},
         false,
         Transfer::AbortReason::UserCancel,
         EndReason::Cancelled,
         0,
         {},
         kReadErrorText},
        {"program", program, {{9, Act::WrongEcho}}, false, {}, EndReason::Succeeded, 85, {0, 0, 1, 0}, {}},
        {"program, port lost",
         program,
         {},
         false,
         Transfer::AbortReason::PortLost,
         EndReason::PortLost,
         0,
         {},
         kProgramErrorText},
        {"program, bad range",
         [](ParameterImage& i) { return std::make_unique<ProgramTransfer>(i, 5, 189); },
         {},
         false,
         {},
         EndReason::Refused,
         0,
         {},
         kProgramErrorText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSelector selector(c.script);
        selector.loopback = c.loopback;
        ParameterImage image;
        auto transfer = c.make(image);
        Step last;
        if (c.abortAfterStart) {
            transfer->start();
            last = transfer->abort(*c.abortAfterStart);
        } else {
            last = drive(*transfer, selector).last;
        }
        const TransferSummary summary = transfer->summary();
        EXPECT_EQ(summary.reason, c.reason);
        EXPECT_EQ(summary.cellsDone, c.cellsDone);
        EXPECT_EQ(summary.faults, c.faults);
        EXPECT_EQ(last.outcome, c.reason == EndReason::Succeeded ? Outcome::Succeeded : Outcome::Failed);
        if (c.lastText) {
            EXPECT_EQ(last.reports.back(), Report{*c.lastText});
        }
    }
}
