// The session's own rules, against the virtual selector in-process and through the line thread:
// what a failed read leaves in the document, what programming sends when the document changes
// under it, what a cancel stops.
#include "link/qt/serial_link.h"
#include "session/selector_session.h"

#include "session/backup.h"
#include "virtual_line.h"

#include "image/address_map.h"
#include "sim/qt/coin_feeder.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace quarvel::session {
namespace {

constexpr int kWaitMs = 20000;

// Every cell marked, so that any cell the session writes by mistake shows.
ParameterImage markedImage()
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kCellCount; ++a)
        image.setNumber(a, (a * 7 + 3) % 200);
    return image;
}

using testing::LineKind;

class SessionTest : public ::testing::TestWithParam<LineKind>
{
protected:
    void open(const char* faults = "")
    {
        QString error;
        ASSERT_TRUE(m_line.open(m_session, GetParam(), *sim::FaultPlan::parse(faults).plan, &error))
            << error.toStdString();
        driverOf(m_session.device()).setTiming(testing::quickTiming(GetParam()));
        m_session.document().replace(markedImage(), ChangeSource::File);
    }

    // The result the operation reports to whoever started it.
    template <typename Op> static typename Op::Result await(Started<Op> started)
    {
        using Result = typename Op::Result;
        EXPECT_TRUE(started) << started.refusalText().toStdString();
        if (!started) return Result{};
        QSignalSpy spy(started.operation, &Op::finished);
        EXPECT_TRUE(spy.wait(kWaitMs));
        return spy.isEmpty() ? Result{} : spy.takeFirst().at(0).template value<Result>();
    }

    testing::VirtualLine m_line; // outlives the session's hold on it
    SelectorSession m_session;
};

INSTANTIATE_TEST_SUITE_P(Lines, SessionTest, ::testing::ValuesIn(testing::allLines()), testing::lineName);

TEST_P(SessionTest, AReadReachesTheDocumentOnlyWhenItSucceeded)
{
    const struct
    {
        const char* faults;
        bool succeeded;
    } cases[] = {
        {"drop:100,drop:101,drop:102,drop:103,drop:104", false}, // budget spent half-way
        {"drop:3,badsum:50", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        open(c.faults);
        const ParameterImage before = m_session.document().image();
        // A second read asked for half-way is refused and leaves the first one's cells alone.
        int sent = 0;
        const auto again =
            QObject::connect(&driverOf(m_session.device()), &link::SerialLink::frameSent, &m_session, [&] {
                if (++sent == 60) {
                    EXPECT_FALSE(m_session.readSelector());
                }
            });
        const auto started = m_session.readSelector();
        // Whoever started the read finds the document already changed when it hears.
        ParameterImage heard;
        if (started)
            QObject::connect(started.operation, &ReadOperation::finished, &m_session,
                             [&] { heard = m_session.document().image(); });
        const auto result = await(started);
        QObject::disconnect(again);
        EXPECT_EQ(result.succeeded(), c.succeeded);
        ParameterImage expected = before;
        if (c.succeeded) {
            const auto& memory = m_line.model()->memory();
            for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
                expected.setNumber(a, memory[static_cast<std::size_t>(a)]);
        } else {
            EXPECT_EQ(result.message,
                      QStringLiteral("Read selector error at cell 99: 5 failed exchanges (5 time-outs)"));
        }
        EXPECT_EQ(m_session.document().image(), expected); // cells from 189 up untouched either way
        EXPECT_EQ(heard, expected);
    }
}

// Programming stamps the document it sends, but only once it has started: one refused leaves
// the document as it was, unannounced.
TEST_P(SessionTest, ARefusedProgrammingLeavesTheDocumentAsItWas)
{
    open();
    const ParameterImage before = m_session.document().image();
    QSignalSpy changed(&m_session.document(), &Document::changed);
    ProgramRequest unwritable;
    unwritable.backup = {BackupPolicy::Kind::Target, QStringLiteral("/nonexistent/folder/backup.cdt"), false};
    EXPECT_FALSE(m_session.program(unwritable));
    m_session.device().closePort();
    EXPECT_FALSE(m_session.program({}));
    EXPECT_EQ(m_session.document().image(), before);
    EXPECT_EQ(changed.count(), 0);
}

TEST_P(SessionTest, AnEditMadeWhileProgrammingDoesNotReachTheSelector)
{
    open();
    const ParameterImage sent = m_session.document().image();
    const auto started = m_session.program({});
    // The document already carries the stamps; cell 150 is edited before its range is sent.
    EXPECT_EQ(m_session.document().image().text(177), "84");
    m_session.document().edit(ChangeSource::Edit, [&](ParameterImage& image) { image.setText(150, "1"); });
    const auto result = await(started);
    EXPECT_TRUE(result.succeeded()) << result.failureSummary().toStdString();
    EXPECT_EQ(result.cellsWritten(), ProgramResult::cellsInRanges());
    EXPECT_EQ(m_line.model()->cell(150), sent.integer(150));
}

TEST_P(SessionTest, CancelStopsTheRangesStillQueuedAndSaysHowFarItGot)
{
    open();
    // The line thread writes on while the news of the last write is on its way to this one: a
    // selector slow to answer keeps the cancel within the first range there.
    if (GetParam() == LineKind::LineThread) {
        m_line.model()->setReplyDelayMs(2);
        driverOf(m_session.device()).setTiming({500, 5}); // nothing times out here, however slow the host
    }
    // Cancelled as the tenth write goes out (after the line probe's two reads): nine were
    // acknowledged, or on the line thread at least as many as had been heard of.
    int sent = 0;
    int heard = 0;
    QString question;
    QObject::connect(&driverOf(m_session.device()), &link::SerialLink::frameSent, &m_session, [&] {
        if (++sent != 12) return;
        question = stopProgrammingQuestion(m_session.device().current());
        heard = static_cast<const ProgramOperation*>(m_session.device().current())->cellsProgrammed();
        m_session.device().current()->cancel();
    });
    const auto result = await(m_session.program({}));
    ASSERT_EQ(result.ranges.size(), 1u);
    EXPECT_EQ(result.ranges[0].reason, link::EndReason::Cancelled);
    EXPECT_EQ(heard, 9);
    if (GetParam() == LineKind::InProcess) {
        EXPECT_EQ(result.cellsWritten(), heard);
    }
    EXPECT_GE(result.cellsWritten(), heard);
    EXPECT_LT(result.cellsWritten(), 85);
    EXPECT_TRUE(
        question.startsWith(QStringLiteral("Programming is not finished (%1 of 184 cells).").arg(heard)))
        << question.toStdString();
    const auto* model = m_line.model();
    EXPECT_EQ(model->counts().endOfProgramming, 0);
    EXPECT_EQ(
        result.failureSummary(),
        QStringLiteral("cells %1-84 not programmed (cancelled); cells 86-123 not programmed (not reached); "
                       "cells 128-188 not programmed (not reached)")
            .arg(result.cellsWritten()));
    EXPECT_FALSE(m_session.device().isBusy());
}

TEST_P(SessionTest, ASamplingRunStoresItsChannelAndRefusesASecondOperation)
{
    open();
    sim::CoinFeeder feeder([&](int type, bool odd) { return m_line.insertCoin(type, odd); });
    feeder.setPace(1, 5);
    feeder.feed(2, 12);
    const auto started = m_session.startSampling(3);
    ASSERT_TRUE(started);
    QSignalSpy progress(started.operation, &Operation::reported);
    const auto again = m_session.readSelector();
    ASSERT_TRUE(again.refusal);
    EXPECT_EQ(again.refusal->kind, Refusal::Kind::Busy);
    const auto result = await(started);
    ASSERT_TRUE(result.succeeded()) << result.message.toStdString();
    ASSERT_TRUE(result.reference);
    EXPECT_EQ(result.samples.size(), 12u);
    EXPECT_EQ(progress.constLast().at(0).value<link::Report>(), (link::Report{link::SetProgress{12, 12}}));
    EXPECT_TRUE(result.successText.startsWith(QStringLiteral("Sampling ok :")));
    const ParameterImage& image = m_session.document().image();
    EXPECT_EQ(image.integer(address::refAHigh(3)) * 256 + image.integer(address::refALow(3)),
              result.reference->aReference);
    EXPECT_EQ(image.integer(address::refY(3)), result.reference->yReference);
    EXPECT_EQ(image.text(address::refX(2)), markedImage().text(address::refX(2)));
}

// Twelve equal coins whose A, X, Y and dH all differ, so a reference taken from the wrong series
// shows. After Open & Program or a calibrating teach (cdt 1) the channel keeps its A window.
TEST_P(SessionTest, ATeachStoresEachReferenceFromItsOwnSeries)
{
    const struct
    {
        sampling::ReferenceStore cdt;
        std::string sigmaA;
    } cases[] = {{sampling::ReferenceStore::Taught, "10"},
                 {sampling::ReferenceStore::Calibrated, markedImage().text(address::sigmaA(4))}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.cdt));
        open();
        m_session.document().setCdt(c.cdt);
        const sim::CoinSample coin{0x91, 5055, 7, 0, 41, 60, 80};
        sim::CoinFeeder feeder([&](int, bool) { return m_line.insertCoin(coin); });
        feeder.setPace(1, 5);
        feeder.feed(0, 12);
        const auto result = await(m_session.startSampling(4));
        ASSERT_TRUE(result.succeeded()) << result.message.toStdString();
        const ParameterImage& image = m_session.document().image();
        EXPECT_EQ(image.text(address::refALow(4)), "191");
        EXPECT_EQ(image.text(address::refAHigh(4)), "19");
        EXPECT_EQ(image.text(address::refX(4)), "41");
        EXPECT_EQ(image.text(address::refY(4)), "61");
        EXPECT_EQ(image.text(address::refDH(4)), "81");
        EXPECT_EQ(image.text(address::sigmaA(4)), c.sigmaA);
    }
}

} // namespace
} // namespace quarvel::session
