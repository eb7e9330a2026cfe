#pragma once

#include "history/history_record.h"
#include "history/history_target.h"

#include <QDialog>

#include <vector>

class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace quarvel {

// frmHistory: the operations recorded on one selector (or all), newest first, with what each
// changed; a row's changes by setting name below the list. It reads the history itself and
// holds nothing else.
class HistoryWindow : public QDialog
{
    Q_OBJECT

public:
    // serialNo: the selector asked for; -1 for every selector.
    HistoryWindow(const history::HistoryTarget& target, int serialNo, QWidget* parent = nullptr);

    const std::vector<history::HistoryRecord>& records() const { return m_records; }

private:
    void load(const history::HistoryTarget& target, int serialNo);
    void showChanges(int row);

    std::vector<history::HistoryRecord> m_records;
    QLabel* m_heading = nullptr;
    QTableWidget* m_table = nullptr;
    QPlainTextEdit* m_changes = nullptr;
};

} // namespace quarvel
