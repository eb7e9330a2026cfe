#include "ui/main/history_window.h"

#include "history/history_store.h"
#include "image/address_map.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace quarvel {

namespace {

constexpr char kTitle[] = "Selector history";
constexpr char kOneSelector[] = "Operations on the selector with serial no. %1, newest first";
constexpr char kAllSelectors[] = "Operations on every selector, newest first";
constexpr char kNothing[] = "Nothing recorded yet.";
constexpr char kUnreadable[] = "The history could not be read: %1";
constexpr char kPickOne[] = "Choose an operation to see what it changed.";
constexpr const char* kColumns[] = {"Time", "Operation",      "Result", "Completion",
                                    "Port", "Coin data file", "Changed"};

} // namespace

HistoryWindow::HistoryWindow(const history::HistoryTarget& target, int serialNo, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QLatin1String(kTitle));
    m_heading = new QLabel(this);
    m_heading->setObjectName(QStringLiteral("labelHistory"));
    m_table = new QTableWidget(0, static_cast<int>(std::size(kColumns)), this);
    m_table->setObjectName(QStringLiteral("tableHistory"));
    m_table->setAccessibleName(QStringLiteral("Recorded operations"));
    QStringList headers;
    for (const char* column : kColumns)
        headers << QLatin1String(column);
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_changes = new QPlainTextEdit(QLatin1String(kPickOne), this);
    m_changes->setObjectName(QStringLiteral("textHistoryChanges"));
    m_changes->setAccessibleName(QStringLiteral("What the operation changed"));
    m_changes->setReadOnly(true);
    m_changes->setMaximumHeight(140);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("cmdHistoryClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_table, &QTableWidget::currentCellChanged, this, [this](int row) { showChanges(row); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_changes);
    layout->addWidget(buttons);
    resize(900, 520); // within 1024x768 with the frame
    load(target, serialNo);
}

void HistoryWindow::load(const history::HistoryTarget& target, int serialNo)
{
    m_heading->setText(serialNo >= 0 ? QString::fromLatin1(kOneSelector).arg(serialNo)
                                     : QLatin1String(kAllSelectors));
    history::HistoryStore store(QStringLiteral("history-window"));
    if (!store.open(target)) {
        m_changes->setPlainText(QLatin1String(kUnreadable).arg(store.lastError()));
        return;
    }
    history::HistoryFilter filter;
    filter.serialNo = serialNo;
    filter.limit = 500;
    m_records = store.find(filter);
    m_table->setRowCount(static_cast<int>(m_records.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const history::HistoryRecord& r = m_records[static_cast<std::size_t>(row)];
        const QStringList cells{r.at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                r.operation,
                                r.succeeded ? QStringLiteral("ok") : QStringLiteral("failed"),
                                r.completion,
                                r.port,
                                QFileInfo(r.coinFile).fileName(),
                                history::changeSummary(r)};
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_table->resizeColumnsToContents();
    if (m_records.empty()) m_changes->setPlainText(QLatin1String(kNothing));
}

void HistoryWindow::showChanges(int row)
{
    if (row < 0 || row >= static_cast<int>(m_records.size())) return;
    const history::HistoryRecord& r = m_records[static_cast<std::size_t>(row)];
    const auto changes = history::changesOf(r);
    if (changes.empty()) {
        m_changes->setPlainText(r.message + QStringLiteral("\n") + history::changeSummary(r));
        return;
    }
    QStringList lines{r.message};
    for (const history::CellChange& change : changes)
        lines << QStringLiteral("%1 (cell %2): %3 -> %4")
                     .arg(QString::fromStdString(address::fieldName(change.cell)))
                     .arg(change.cell)
                     .arg(change.before)
                     .arg(change.after);
    m_changes->setPlainText(lines.join(QLatin1Char('\n')));
}

} // namespace quarvel
