#include "ui/sim/virtual_selector_window.h"

#include "session/selector_session.h"
#include "sim/coin_types.h"
#include "sim/virtual_selector.h"
#include "ui/accessible_roles.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>

namespace quarvel {

namespace {

constexpr char kCaption[] = "Virtual selector";
constexpr int kMemoryColumns = 16;
constexpr int kRefreshDelayMs = 150; // coalesces the frames of a transfer into one repaint

struct KindEntry
{
    sim::FaultKind kind;
    const char* text;
    const char* amount; // what the amount means; null when the kind has none
    int minAmount, maxAmount, defaultAmount;
};
constexpr std::array<KindEntry, 11> kKinds{{
    {sim::FaultKind::Drop, "Drop the reply", nullptr, 0, 0, 0},
    {sim::FaultKind::Late, "Answer late", "ms", 0, 600000, 250},
    {sim::FaultKind::BadChecksum, "Wrong checksum", nullptr, 0, 0, 0},
    {sim::FaultKind::BadCommand, "Echo a wrong command", nullptr, 0, 0, 0},
    {sim::FaultKind::BadAddress, "Echo a wrong address", nullptr, 0, 0, 0},
    {sim::FaultKind::Split, "Split the reply", "parts", 2, 16, 2},
    {sim::FaultKind::Merge, "Merge with the next reply", nullptr, 0, 0, 0},
    {sim::FaultKind::Garbage, "Garbage before the reply", "bytes", 1, 255, 3},
    {sim::FaultKind::Extra, "Garbage after the reply", "bytes", 1, 255, 3},
    {sim::FaultKind::Gone, "Disappear", nullptr, 0, 0, 0},
    {sim::FaultKind::Lost, "Lose the request", nullptr, 0, 0, 0},
}};

const KindEntry& kindOf(const QComboBox& box)
{
    return kKinds[static_cast<std::size_t>(std::max(0, box.currentIndex()))];
}

QPushButton* addButton(QLayout* layout, QWidget* parent, const char* name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    layout->addWidget(b);
    return b;
}

} // namespace

VirtualSelectorWindow::VirtualSelectorWindow(session::SelectorSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session)
{
    setObjectName(QStringLiteral("virtualSelector"));
    exposeAsWindow(this);
    setWindowTitle(QString::fromLatin1(kCaption));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* outer = new QVBoxLayout(this);
    buildCoins(outer);
    buildMemory(outer);
    buildFaults(outer);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshDelayMs);
    connect(&m_refresh, &QTimer::timeout, this, &VirtualSelectorWindow::refresh);
    connect(&m_session.device(), &session::Device::traffic, this, &VirtualSelectorWindow::scheduleRefresh);
    connect(&m_session.device(), &session::Device::portChanged, this, &VirtualSelectorWindow::refresh);
    connect(&m_session.device(), &session::Device::busyChanged, this,
            &VirtualSelectorWindow::scheduleRefresh);
    connect(&m_session.bench(), &session::VirtualBench::coinFed, this,
            &VirtualSelectorWindow::scheduleRefresh);
    // The coins to drop are those of the channel being taught: another channel's would be taught
    // as this one's. A coin type chosen after Insert still stands.
    connect(&m_session.device(), &session::Device::operationStarted, this,
            [this](session::Operation* operation) {
                if (operation->kind() == session::Operation::Kind::Sampling)
                    m_channel->setCurrentIndex(m_channel->findData(operation->channel()));
            });
    refresh();
}

VirtualSelectorWindow::~VirtualSelectorWindow() = default;

void VirtualSelectorWindow::buildCoins(QVBoxLayout* outer)
{
    auto* box = new QGroupBox(tr("Coins"), this);
    auto* form = new QFormLayout(box);
    m_channel = new QComboBox(box);
    m_channel->setObjectName(QStringLiteral("comboChannel"));
    nameListByField(m_channel, tr("Channel"));
    for (int ch = 1; ch <= 12; ++ch)
        m_channel->addItem(tr("Channel %1").arg(ch), ch);
    m_coinType = new QComboBox(box);
    m_coinType->setObjectName(QStringLiteral("comboCoinType"));
    nameListByField(m_coinType, tr("Coin type"));
    const auto types = sim::coinTypes();
    for (std::size_t i = 0; i < types.size(); ++i)
        m_coinType->addItem(
            QString::fromLatin1(types[i].name.data(), static_cast<qsizetype>(types[i].name.size())),
            static_cast<int>(i));
    // The factory memory teaches channel n the coin type n, so a channel suggests its coin.
    connect(m_channel, &QComboBox::currentIndexChanged, m_coinType, &QComboBox::setCurrentIndex);
    form->addRow(tr("&Channel:"), m_channel);
    form->addRow(tr("Coin &type:"), m_coinType);
    // Selectors differ in the type byte of a regular coin's record; the program must take any.
    m_recordType = new QSpinBox(box);
    m_recordType->setObjectName(QStringLiteral("recordType"));
    m_recordType->setAccessibleName(tr("Record type of a regular coin"));
    m_recordType->setRange(0, 255);
    m_recordType->setDisplayIntegerBase(16);
    m_recordType->setPrefix(QStringLiteral("0x"));
    form->addRow(tr("&Record type:"), m_recordType);
    connect(m_recordType, &QSpinBox::valueChanged, this, [this](int type) {
        if (sim::VirtualSelector* model = m_session.bench().model())
            model->setRecordType(static_cast<std::uint8_t>(type));
    });

    auto* buttons = new QHBoxLayout;
    connect(addButton(buttons, box, "insertOne", tr("Insert &one coin")), &QPushButton::clicked, this,
            [this] { insert(1, false); });
    connect(addButton(buttons, box, "insertTwelve", tr("T&welve in a row")), &QPushButton::clicked, this,
            [this] { insert(12, false); });
    connect(addButton(buttons, box, "insertIrregular", tr("&Irregular coin")), &QPushButton::clicked, this,
            [this] { insert(1, true); });
    connect(addButton(buttons, box, "stopCoins", tr("&Stop")), &QPushButton::clicked, this, [this] {
        m_session.bench().stopFeeding();
        refresh();
    });
    form->addRow(buttons);
    m_coinStatus = new QLabel(box);
    m_coinStatus->setObjectName(QStringLiteral("coinStatus"));
    form->addRow(m_coinStatus);
    outer->addWidget(box);
}

void VirtualSelectorWindow::buildMemory(QVBoxLayout* outer)
{
    auto* box = new QGroupBox(tr("Memory"), this);
    auto* layout = new QVBoxLayout(box);
    const int rows = (sim::VirtualSelector::kCellCount + kMemoryColumns - 1) / kMemoryColumns;
    m_memory = new QTableWidget(rows, kMemoryColumns, box);
    m_memory->setObjectName(QStringLiteral("memory"));
    m_memory->setAccessibleName(tr("Selector memory"));
    m_memory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList columns, rowNames;
    for (int c = 0; c < kMemoryColumns; ++c)
        columns << QString::number(c);
    for (int r = 0; r < rows; ++r)
        rowNames << QString::number(r * kMemoryColumns);
    m_memory->setHorizontalHeaderLabels(columns);
    m_memory->setVerticalHeaderLabels(rowNames);
    const int cellWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 4;
    m_memory->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_memory->horizontalHeader()->setDefaultSectionSize(cellWidth);
    m_memory->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // All 189 cells in view without scrolling.
    m_memory->setMinimumWidth(cellWidth * kMemoryColumns + m_memory->verticalHeader()->sizeHint().width() +
                              8);
    m_memory->setMinimumHeight(m_memory->verticalHeader()->defaultSectionSize() * rows +
                               m_memory->horizontalHeader()->sizeHint().height() + 8);
    for (int a = 0; a < rows * kMemoryColumns; ++a) {
        auto* item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (a >= sim::VirtualSelector::kCellCount) item->setFlags(Qt::NoItemFlags);
        m_memory->setItem(a / kMemoryColumns, a % kMemoryColumns, item);
    }
    layout->addWidget(m_memory);
    m_counts = new QLabel(box);
    m_counts->setObjectName(QStringLiteral("frameCounts"));
    m_counts->setWordWrap(true);
    layout->addWidget(m_counts);
    outer->addWidget(box, 1);
}

void VirtualSelectorWindow::buildFaults(QVBoxLayout* outer)
{
    auto* box = new QGroupBox(tr("Faults"), this);
    auto* form = new QFormLayout(box);
    auto* row = new QHBoxLayout;
    m_faultKind = new QComboBox(box);
    m_faultKind->setObjectName(QStringLiteral("comboFault"));
    nameListByField(m_faultKind, tr("Fault kind"));
    for (const KindEntry& k : kKinds)
        m_faultKind->addItem(tr(k.text));
    m_faultReply = new QSpinBox(box);
    m_faultReply->setObjectName(QStringLiteral("faultReply"));
    m_faultReply->setAccessibleName(tr("At reply"));
    m_faultReply->setRange(1, 1000000);
    m_faultReply->setPrefix(tr("at reply "));
    m_faultAmount = new QSpinBox(box);
    m_faultAmount->setObjectName(QStringLiteral("faultAmount"));
    m_faultAmount->setAccessibleName(tr("Fault amount"));
    m_faultAmount->setMinimumWidth(
        m_faultAmount->fontMetrics().horizontalAdvance(QStringLiteral("600000 bytes")) + 30);
    row->addWidget(m_faultKind, 1);
    row->addWidget(m_faultReply);
    row->addWidget(m_faultAmount);
    connect(addButton(row, box, "addFault", tr("&Add")), &QPushButton::clicked, this,
            &VirtualSelectorWindow::addFault);
    connect(m_faultKind, &QComboBox::currentIndexChanged, this, &VirtualSelectorWindow::kindChanged);
    kindChanged();
    form->addRow(row);

    m_planText = new QLineEdit(box);
    m_planText->setObjectName(QStringLiteral("faultPlan"));
    m_planText->setAccessibleName(tr("Fault plan"));
    m_planText->setToolTip(QString::fromStdString(sim::FaultPlan::describe()));
    form->addRow(tr("&Plan:"), m_planText);

    auto* buttons = new QHBoxLayout;
    connect(addButton(buttons, box, "setPlan", tr("S&et plan")), &QPushButton::clicked, this, [this] {
        if (const std::optional<sim::FaultPlan> plan = typedPlan()) applyPlan(*plan);
    });
    connect(addButton(buttons, box, "clearPlan", tr("C&lear plan")), &QPushButton::clicked, this, [this] {
        m_planText->clear();
        applyPlan(sim::FaultPlan{});
    });
    buttons->addStretch();
    form->addRow(buttons);
    m_activePlan = new QLabel(box);
    m_activePlan->setObjectName(QStringLiteral("activePlan"));
    m_activePlan->setWordWrap(true);
    form->addRow(m_activePlan);
    outer->addWidget(box);
}

void VirtualSelectorWindow::kindChanged()
{
    const KindEntry& k = kindOf(*m_faultKind);
    m_faultAmount->setEnabled(k.amount != nullptr);
    m_faultAmount->setRange(k.minAmount, k.maxAmount);
    m_faultAmount->setValue(k.defaultAmount);
    m_faultAmount->setSuffix(k.amount ? QStringLiteral(" ") + tr(k.amount) : QString());
}

void VirtualSelectorWindow::addFault()
{
    // The typed plan is the list; the picked fault joins it in its text form. A text that does
    // not read as a plan stays for the user to mend: replacing it would lose what was typed.
    std::optional<sim::FaultPlan> plan = typedPlan();
    if (!plan) return;
    const KindEntry& k = kindOf(*m_faultKind);
    plan->add({k.kind, m_faultReply->value(), k.amount ? m_faultAmount->value() : 0});
    m_planText->setText(QString::fromStdString(plan->toText()));
}

std::optional<sim::FaultPlan> VirtualSelectorWindow::typedPlan()
{
    sim::FaultPlanParse parsed = sim::FaultPlan::parse(m_planText->text().toStdString());
    if (!parsed.plan) {
        m_activePlan->setText(QString::fromStdString(parsed.error));
        m_activePlan->setStyleSheet(QStringLiteral("color: #FF0000"));
    }
    return std::move(parsed.plan);
}

void VirtualSelectorWindow::applyPlan(const sim::FaultPlan& plan)
{
    sim::VirtualSelector* model = m_session.bench().model();
    m_activePlan->setStyleSheet(QString());
    if (model == nullptr) {
        m_activePlan->setText(tr("The port is not the virtual selector."));
        return;
    }
    model->setFaultPlan(plan);
    m_activePlan->setText(
        plan.isEmpty() ? tr("No faults: the selector behaves.")
                       : tr("Active from the next reply: %1").arg(QString::fromStdString(plan.toText())));
}

void VirtualSelectorWindow::insert(int count, bool irregular)
{
    if (m_session.bench().model() == nullptr) {
        m_coinStatus->setText(tr("The port is not the virtual selector."));
        return;
    }
    m_session.bench().feedCoins(m_coinType->currentData().toInt(), count, irregular);
    refresh();
}

void VirtualSelectorWindow::scheduleRefresh()
{
    if (!m_refresh.isActive()) m_refresh.start();
}

void VirtualSelectorWindow::refresh()
{
    const sim::VirtualSelector* model = m_session.bench().model();
    if (model == nullptr) {
        m_coinStatus->setText(tr("The port is not the virtual selector."));
        m_counts->clear();
        return;
    }
    for (int a = 0; a < sim::VirtualSelector::kCellCount; ++a)
        m_memory->item(a / kMemoryColumns, a % kMemoryColumns)->setText(QString::number(model->cell(a)));
    m_counts->setText(QString::fromStdString(model->summary()));
    if (!m_recordType->hasFocus()) {
        const QSignalBlocker quiet(m_recordType);
        m_recordType->setValue(model->recordType());
    }

    if (m_session.bench().isFeeding())
        m_coinStatus->setText(model->isSampling()
                                  ? tr("%n coin(s) to come", nullptr, m_session.bench().coinsToCome())
                                  : tr("%n coin(s) waiting until a channel's Insert is pressed", nullptr,
                                       m_session.bench().coinsToCome()));
    else
        m_coinStatus->setText(model->isSampling() ? tr("Sampling: the selector takes coins")
                                                  : tr("Not sampling: press a channel's Insert first"));
}

} // namespace quarvel
