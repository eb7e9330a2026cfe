#pragma once

#include "image/parameter_image.h"
#include "link/transfer.h"
#include "session/programming.h"
#include "session/results.h"

#include <QString>

#include <cstddef>
#include <optional>
#include <variant>
#include <vector>

namespace quarvel::session {

// The one programming operation as a pure state machine: line probe, identity or backup read,
// the question before the first write, the three ranges, verify. Events in, actions out, like
// a transfer: no clock, no port, no files. The driver runs each read or write as one link
// transfer, saves the backup, tells the operation's listeners, and feeds back what happened.
//
// Every batch of actions ends with the one the plan then waits on (a read, a write, the backup
// save, a phase change, the question, the end); nothing follows it. So a driver may feed an
// event from inside an action (a listener that cancels as it hears of a phase) and simply stop
// applying the batch once finished() is true.
class ProgramPlan
{
public:
    using Phase = ProgramResult::Phase;

    // Read cells first..last; a failure is said in failureText's words.
    struct Read
    {
        int first;
        int last;
        const char* failureText;
    };
    // Write cells first..last of sent().
    struct Write
    {
        int first;
        int last;
    };
    // Stop the transfer in flight (it still ends with transferEnded).
    struct StopTransfer
    {
    };
    // Save the memory read as a backup: in a new dated file of the folder, or as the file.
    // Then backupSaved(). prune: the folder is the program's own and may lose its oldest.
    struct SaveBackup
    {
        ParameterImage memory;
        bool folder;
        QString path;
        bool prune;
    };
    // Tell the listeners, then phaseHeard(): someone who hears of it may cancel.
    struct PhaseChanged
    {
        Phase phase;
    };
    // Ask before the first write; answer() or cancel().
    struct Ask
    {
        QString question;
    };
    struct Progress
    {
        int value;
        int total;
    };
    // seen: what the run learnt of the selector's memory (its identity at least), if anything.
    struct Finished
    {
        ProgramResult result;
        std::optional<ParameterImage> seen;
    };
    using Action = std::variant<Read, Write, StopTransfer, SaveBackup, PhaseChanged, Ask, Progress, Finished>;
    using Actions = std::vector<Action>;

    // request.image is what to send (stamped here unless exact); memory is the image the
    // selector's cells are read over (a backup file keeps its other cells).
    ProgramPlan(ProgramRequest request, BackupTarget target, ParameterImage memory);

    Actions start();
    // A running transfer's progress report: the address it is about to take.
    Actions progress(int address);
    // The transfer in flight ended; a read's cells come in the summary's output.
    Actions transferEnded(const link::TransferSummary& summary);
    Actions phaseHeard();
    // path: the file written or meant; failure: why it was not, or nothing when saved.
    Actions backupSaved(const QString& path, const std::optional<QString>& failure);
    // The answer to Ask: go on writing, or cancel.
    Actions answer(bool proceed);
    // A transfer in flight is stopped and the run ends as it does; anywhere else it ends now.
    Actions cancel();
    // A transfer in flight ends with its own account of the loss; anywhere else the run ends now.
    Actions portLost(const QString& message);

    Phase phase() const { return m_phase; }
    bool finished() const { return m_state == State::Finished; }
    bool waitsForAnswer() const { return m_state == State::Asking; }
    // The image the ranges are written from.
    const ParameterImage& sent() const { return m_result.sent; }
    // Cells acknowledged so far, the running range's included.
    int cellsProgrammed() const;
    int progressTotal() const { return m_total; }

private:
    enum class Target
    {
        Probe,
        Memory,
        ReadBack,
        Proof, // cells of a range whose acknowledgement proved nothing
        None   // a write
    };
    struct Step
    {
        Phase phase;
        int first;
        int last;
        Target into;
        int range = -1;     // a range's own write, or a read or write proving it
        bool again = false; // a read or write proving a range
        int size() const { return last - first + 1; }
    };
    enum class State
    {
        Idle,
        Transfer, // a read or write in flight
        Telling,  // a phase change told, the step after it not begun
        Saving,
        Asking,
        Finished
    };

    Actions beginStep();
    Actions onward(const Step& step);
    // Stores what a read step read, and what it tells of the selector.
    void take(const Step& step, const link::ReadCells& cells);
    Actions readFailed(const Step& step, const link::TransferSummary& summary);
    void prove(const Step& step, const link::TransferSummary& summary);
    void insertSteps(const std::vector<int>& cells, Target into, int range);
    Actions end(link::EndReason reason, const QString& message = {});
    Actions succeed();
    ParameterImage* image(Target target);
    const Step& current() const { return m_steps[m_next - 1]; }

    ProgramRequest m_request;
    BackupTarget m_target;
    ProgramResult m_result;
    ParameterImage m_probe;
    ParameterImage m_memory;
    ParameterImage m_readBack;
    ParameterImage m_proof;
    std::vector<int> m_proving;   // the cells the proof reads in flight cover
    std::vector<int> m_rewritten; // the cells the writes again in flight cover
    int m_repairs = 0;            // writes again of the range being proven
    std::vector<Step> m_steps;
    std::size_t m_next = 0; // the step to begin
    State m_state = State::Idle;
    Phase m_phase = Phase::Probe;
    bool m_cancelled = false;
    bool m_asked = false;
    bool m_memoryRead = false;   // memory holds the whole selector
    bool m_identityRead = false; // memory holds the selector's identity cells
    std::optional<QString> m_question;
    QString m_lost;     // the lost port's message
    int m_base = 0;     // progress of the steps ended
    int m_total = 0;    // progress of all steps
    int m_stepDone = 0; // cells of the running step done, as its progress says
};

} // namespace quarvel::session
