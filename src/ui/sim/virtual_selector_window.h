#pragma once

#include "sim/fault_plan.h"

#include <QTimer>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QVBoxLayout;

namespace quarvel::session {
class SelectorSession;
}
namespace quarvel::sim {}

namespace quarvel {

// A small bench for the in-process virtual selector: drop coins of a type into it (one, twelve
// at a hand's pace, or one of irregular speed), look at its memory and the frames it took, and
// make it misbehave with a fault plan. Learning to teach and reproducing a report need no
// hardware this way. Works only while the session's port is the virtual selector.
class VirtualSelectorWindow : public QWidget
{
    Q_OBJECT

public:
    explicit VirtualSelectorWindow(session::SelectorSession& session, QWidget* parent = nullptr);
    ~VirtualSelectorWindow() override;

private:
    void buildCoins(QVBoxLayout* outer);
    void buildMemory(QVBoxLayout* outer);
    void buildFaults(QVBoxLayout* outer);
    void insert(int count, bool irregular);
    void addFault();
    // The plan typed in the box, or nothing with the reason shown in red.
    std::optional<sim::FaultPlan> typedPlan();
    void applyPlan(const sim::FaultPlan& plan);
    void scheduleRefresh();
    void refresh();
    void kindChanged();

    session::SelectorSession& m_session;
    QTimer m_refresh;

    QComboBox* m_channel = nullptr;
    QComboBox* m_coinType = nullptr;
    QSpinBox* m_recordType = nullptr;
    QLabel* m_coinStatus = nullptr;
    QTableWidget* m_memory = nullptr;
    QLabel* m_counts = nullptr;
    QComboBox* m_faultKind = nullptr;
    QSpinBox* m_faultReply = nullptr;
    QSpinBox* m_faultAmount = nullptr;
    QLineEdit* m_planText = nullptr;
    QLabel* m_activePlan = nullptr;
};

} // namespace quarvel
