#pragma once

#include "sampling/channel_reference.h"
#include "sampling/measurement_record.h"
#include "session/operation.h"
#include "session/reports.h"
#include "ui/sampling/sampling_state.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quarvel::session {
class SelectorSession;
struct DocumentChange;
} // namespace quarvel::session

namespace quarvel {

class TeachQualityView;

// The sampling window: one row per coin channel with its coin value, an "Insert" button that
// starts a sampling run through the session, the run's progress and, once a run has finished,
// the quality of that teach. It shows what the session reports; the run, the references and
// the coin-value rules live below it.
//
// Channel arrays are named "insert_0".."insert_11", "money_0".., "bar_0".. (index = channel
// number - 1), each also carrying its index in the "index" property.
class SamplingWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kChannels = 12;
    static constexpr int kCoinsPerRun = 12;

    // How an asked-for save or programming ended, worded for this window's status line.
    using Done = std::function<void(bool succeeded, const QString& text)>;
    // What the window asks of its opener: the main window's save dialog and its programming
    // of the three ranges (with its backup). Each tells the window how it ended (a cancelled
    // dialog says nothing). Without them, Save does nothing and Program runs the session's
    // programming directly.
    struct Hooks
    {
        std::function<void(Done)> saveAs;
        std::function<void(Done)> program;
    };

    // The load step runs here and reads state.operation, so store it first.
    SamplingWindow(session::SelectorSession& session, SamplingState& state, Hooks hooks,
                   QWidget* parent = nullptr);
    ~SamplingWindow() override;

    // Shows the window of slot, creating it when there is none: teach mode (caption
    // "Sampling") or calibration mode (caption "Calibration").
    // An open window is loaded afresh from the document in the new mode, unless a run is
    // going on in it.
    static SamplingWindow* present(QPointer<SamplingWindow>& slot, session::SelectorSession& session,
                                   SamplingState& state, Hooks hooks, bool calibration,
                                   QWidget* parent = nullptr);

    bool isSampling() const { return m_run != nullptr; }
    // The money boxes and mode texts from the document again (an opener changed it); nothing
    // while a run goes on.
    void reload();
    // Coin values typed here and not yet taken back into the document.
    bool hasTypedValues() const;
    // Takes them back as exit does; false (the refusal shown) when one is not a coin value.
    bool takeBackValues();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Sizes are taken again once the style has polished every widget.
    void showEvent(QShowEvent* event) override;

private:
    struct Row
    {
        QLabel* label = nullptr;
        QLineEdit* money = nullptr;
        QPushButton* insert = nullptr;
        QProgressBar* bar = nullptr;
        TeachQualityView* quality = nullptr;
        QString loadedMoney; // what load put in the box
        QLabel* warnings = nullptr;
        std::vector<sampling::Sample> samples; // of the last finished run
        std::optional<sampling::ChannelReference> reference;
    };

    static QString teachCaption();       // "Sampling"
    static QString calibrationCaption(); // "Calibration"

    // A result of something started here, on the status line.
    void showOutcome(bool succeeded, const QString& text);
    void build();
    QWidget* buildCounter();
    void load();
    void insertClicked(int index);
    void interreptClicked();
    void saveClicked();
    void programClicked();
    void exitClicked();
    void tsmrClicked();
    void onReported(const session::Report& report);
    void onFinished(const session::SamplingResult& result);
    void followDocument(const session::DocumentChange& change);
    void setDeviceBusy(bool busy);
    void refreshQuality();
    void setRunVisible(bool visible);
    bool refuseWhileRunning();
    void showStatus(const QString& text, std::optional<session::StatusColour> colour);
    void placeServiceButton();

    session::SelectorSession& m_session;
    SamplingState& m_state;
    Hooks m_hooks;
    QPointer<session::SamplingOperation> m_run; // the run this window started, while it lasts
    int m_normalWidth = 0;
    bool m_sized = false;
    bool m_stale = false;                // the document was replaced under typed coin values
    QList<QPushButton*> m_deviceButtons; // Program and TSMR: they talk to the selector

    std::array<Row, kChannels> m_rows;
    QWidget* m_content = nullptr;
    QWidget* m_counter = nullptr;
    QLabel* m_labelStats = nullptr;
    QLabel* m_label13 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QPushButton* m_interrept = nullptr;
    QLineEdit* m_strch2 = nullptr;
    QPushButton* m_command4 = nullptr;
};

} // namespace quarvel
