#include "ui/settings/settings_form.h"

#include "ui/settings/ask.h"

#include "image/address_map.h"
#include "image/default_image.h"
#include "ui/accessible_roles.h"
#include "ui/alt_letter.h"
#include "ui/settings/byte_text.h"
#include "ui/settings/fitting_scroll_area.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace quarvel {

namespace {

constexpr char kDesignCaption[] = "setting";
constexpr int kScrollMax = 255;
constexpr int kSmallStep = 1;
constexpr int kLargeStep = 10;
constexpr int kScrollMinWidth = 110;
constexpr int kTextWidth = 44;

QString coinCaption(int channel)
{
    // "Coin 9:" but "Coin10:": the captions keep one width.
    return channel < 10 ? QStringLiteral("Coin %1:").arg(channel) : QStringLiteral("Coin%1:").arg(channel);
}

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "Coin 3 Tol-A", "Price A": the field's label without its caption colon.
QString spokenName(const SettingField& field)
{
    QString name = QString::fromStdString(fieldLabel(field)).simplified();
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    return name;
}

void select(QComboBox* list, int index)
{
    list->setCurrentIndex(std::clamp(index, 0, list->count() - 1));
}

QLabel* heading(QWidget* parent, const FieldKind& kind)
{
    auto* label = new QLabel(
        kind.hint.empty() ? qs(kind.heading) : qs(kind.heading) + QLatin1Char('\n') + qs(kind.hint), parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

SettingsForm::SettingsForm(session::Document& document, QWidget* parent)
    : QWidget(parent, Qt::Window), m_document(document)
{
    setObjectName(QStringLiteral("setting"));
    exposeAsWindow(this);
    setWindowTitle(QString::fromLatin1(kDesignCaption));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* banks = new QVBoxLayout;
    auto* frame1 = buildBank(address::Bank::A);
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto* frame2 = buildBank(address::Bank::B);
    frame2->setObjectName(QStringLiteral("Frame2"));
    banks->addWidget(frame1);
    banks->addWidget(frame2);

    auto* body = new QWidget(this);
    auto* right = new QVBoxLayout;
    right->addWidget(buildOutputGroup());
    right->addStretch(1);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("LabelMessage"));
    m_message->setWordWrap(true);
    QPalette red = m_message->palette();
    red.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0x00));
    m_message->setPalette(red);
    m_messageRed = red;
    auto* top = new QHBoxLayout(body);
    top->addLayout(banks, 1);
    top->addLayout(right);

    // The controls scroll on a small screen; the message and the buttons stay in view.
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_message, 1);
    bottom->addWidget(buildButtons());
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(new FittingScrollArea(body, this), 1);
    outer->addLayout(bottom);

    load();
    resize(sizeHint().boundedTo(availableSize(this)));
}

QGroupBox* SettingsForm::buildBank(address::Bank bank)
{
    const bool bankA = bank == address::Bank::A;
    auto* frame = new QGroupBox(bankA ? QStringLiteral("Bank A") : QStringLiteral("Bank B"), this);
    auto* grid = new QGridLayout(frame);
    grid->setVerticalSpacing(3);
    int row = 0;
    // Bank A's price and factors stand above its coins; bank B's lie beyond the frame's lower
    // edge: loaded and written back, never edited.
    const auto addFactors = [&] {
        for (const SettingField& field : bankFields(bank)) {
            auto* caption = new QLabel(QString::fromStdString(fieldLabel(field)), frame);
            grid->addWidget(caption, row, 0);
            addFieldControls(grid, row, 1, field);
            if (!bankA || !field.kind->visibleOnForm) {
                caption->hide();
                m_pairs.back().scroll->hide();
                m_pairs.back().text->hide();
            }
            ++row;
        }
    };
    if (bankA) addFactors();

    int column = 1;
    for (const SettingField& field : channelFields(address::firstChannel(bank))) {
        const int span = field.isList() ? 1 : 2;
        grid->addWidget(heading(frame, *field.kind), row, column, 1, span);
        column += span;
    }
    ++row;
    for (int channel = address::firstChannel(bank); channel <= address::lastChannel(bank); ++channel) {
        grid->addWidget(new QLabel(coinCaption(channel), frame), row, 0);
        column = 1;
        for (const SettingField& field : channelFields(channel)) {
            addFieldControls(grid, row, column, field);
            column += field.isList() ? 1 : 2;
        }
        ++row;
    }

    if (!bankA) addFactors();
    grid->setColumnStretch(1, 1);
    return frame;
}

// A list, or a scroll bar with its text box in the next column.
void SettingsForm::addFieldControls(QGridLayout* grid, int row, int column, const SettingField& field)
{
    QWidget* parent = grid->parentWidget();
    const QString name = spokenName(field);
    if (field.isList()) {
        auto* list = new QComboBox(parent);
        list->setObjectName(QString::fromStdString(controlName(field, "Combo")));
        // Named by its field everywhere: on Linux Qt would name it by its current entry, and
        // these lists share their column headings.
        nameListByField(list, name);
        list->setEditable(false); // only the entries, no typed text
        grid->addWidget(list, row, column);
        m_lists.push_back({list, field});
        return;
    }
    auto* scroll = new QScrollBar(Qt::Horizontal, parent);
    scroll->setObjectName(QString::fromStdString(controlName(field, "HScroll")));
    auto* text = new QLineEdit(parent);
    text->setObjectName(QString::fromStdString(controlName(field, "Text")));
    // Lower end 0 for every bar, the price and factor bars included: a cell holding 0 must
    // show as 0, not as the bar's lowest position.
    scroll->setRange(0, kScrollMax);
    scroll->setSingleStep(kSmallStep);
    scroll->setPageStep(kLargeStep);
    scroll->setMinimumWidth(kScrollMinWidth);
    scroll->setFocusPolicy(Qt::StrongFocus);
    scroll->setAccessibleName(name + QStringLiteral(" slider"));
    text->setAccessibleName(name);
    text->setFixedWidth(kTextWidth);
    // Change and drag alike: the bar writes its text box. A whole number typed moves the bar
    // along, quietly, so the text stays exactly as typed (it is stored unchanged).
    connect(scroll, &QScrollBar::valueChanged, text,
            [text](int value) { text->setText(QString::number(value)); });
    connect(text, &QLineEdit::textEdited, text, [text, scroll](const QString& typed) {
        text->setPalette(QPalette());
        bool number = false;
        const int value = typed.trimmed().toInt(&number);
        if (!number || value < scroll->minimum() || value > scroll->maximum()) return;
        const QSignalBlocker quiet(scroll);
        scroll->setValue(value);
    });
    grid->addWidget(scroll, row, column);
    grid->addWidget(text, row, column + 1);
    m_pairs.push_back({scroll, text, field, name});
}

QWidget* SettingsForm::buildOutputGroup()
{
    auto* group = new QWidget(this);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    bool timerHeading = false;
    for (const SettingField& field : globalFields()) {
        if (field.isList()) {
            auto* caption = new QLabel(qs(field.kind->heading), group);
            if (field.kind->codec == FieldCodec::InhibitLevel) {
                caption->setObjectName(QStringLiteral("Labeloutenble"));
                caption->clear(); // loading sets it
            }
            grid->addWidget(caption, row++, 0, 1, 3);
            addFieldControls(grid, row++, 0, field);
            grid->removeWidget(m_lists.back().list);
            grid->addWidget(m_lists.back().list, row - 1, 0, 1, 3);
            if (field.kind->codec == FieldCodec::OutputMode)
                m_lists.back().list->setSizeAdjustPolicy(QComboBox::AdjustToContents); // every entry readable
            continue;
        }
        if (!timerHeading) {
            grid->addWidget(new QLabel(QStringLiteral("x 2 (mS)"), group), row++, 1, 1, 2);
            timerHeading = true;
        }
        QString captionText = qs(field.kind->heading);
        if (field.cell == address::kSignalTime) captionText += QStringLiteral("\n(Space Time)");
        auto* caption = new QLabel(captionText, group);
        grid->addWidget(caption, row, 0);
        addFieldControls(grid, row, 1, field);
        // The text box comes before its bar in this group.
        ScrollPair& pair = m_pairs.back();
        grid->removeWidget(pair.scroll);
        grid->removeWidget(pair.text);
        grid->addWidget(pair.text, row, 1);
        grid->addWidget(pair.scroll, row, 2);
        if (!field.kind->visibleOnForm) {
            caption->hide();
            pair.text->hide();
            pair.scroll->hide();
        }
        ++row;
    }
    return group;
}

QWidget* SettingsForm::buildButtons()
{
    auto* box = new QWidget(this);
    auto* column = new QHBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    const auto button = [&](const char* name, const char* caption, char alt) {
        auto* b = new QPushButton(withAltLetter(QLatin1String(caption), QLatin1Char(alt)), box);
        b->setObjectName(QLatin1String(name));
        column->addWidget(b);
        return b;
    };
    m_comOk = button("ComOK", "OK", 'O');
    m_comSave = button("ComSave", "Save as a CDT file", 'S');
    m_command2 = button("Command2", "Program to Coin Selector", 'P');
    m_comExit = button("ComExit", "Exit", 'x');
    m_comDefault = button("ComDefault", "Load Default Value", 'D');
    // The form offers no saving of its own, and the default button shows only for teaching.
    m_comSave->hide();
    m_comDefault->hide();

    connect(m_comOk, &QPushButton::clicked, this, &SettingsForm::comOkClicked);
    connect(m_command2, &QPushButton::clicked, this, &SettingsForm::command2Clicked);
    connect(m_comExit, &QPushButton::clicked, this, &SettingsForm::exitClicked);
    for (QPushButton* b : {m_comOk, m_comSave, m_command2, m_comExit, m_comDefault})
        b->setAutoDefault(true); // Enter presses the button that has the focus
    connect(m_comDefault, &QPushButton::clicked, this, &SettingsForm::comDefaultClicked);
    return box;
}

void SettingsForm::load()
{
    for (const ListControl& c : m_lists)
        for (const std::string& entry : fieldEntries(*c.field.kind))
            c.list->addItem(QString::fromStdString(entry));
    if (auto* label = findChild<QLabel*>(QStringLiteral("Labeloutenble")))
        label->setText(QStringLiteral("Inhibit Level:"));

    // Texts first, then the bars; a bar that moves rewrites its text with its position, which
    // is the same whole value the model shows (a cell holding 12.6 shows 13).
    for (const ScrollPair& pair : m_pairs)
        pair.text->setText(QString::fromStdString(fieldText(m_document.image(), pair.field)));
    for (const ScrollPair& pair : m_pairs)
        pair.scroll->setValue(std::clamp(fieldValue(m_document.image(), pair.field), 0, kScrollMax));
    for (const ListControl& c : m_lists)
        select(c.list, fieldValue(m_document.image(), c.field));
    m_loaded = controlState();
}

void SettingsForm::applyOpener(SettingsOpener opener)
{
    // Only editing programs from here; every other opener leads on to sampling with OK.
    const bool edit = opener == SettingsOpener::Edit;
    setWindowTitle(QString::fromLatin1(edit ? kEditCaption : kSettingCaption));
    m_comOk->setVisible(!edit);
    m_command2->setVisible(edit);
    if (!edit) m_comSave->hide();
    m_comExit->setVisible(opener != SettingsOpener::Calibration);
    if (opener == SettingsOpener::Teach) m_comDefault->show();
}

bool SettingsForm::tranback()
{
    m_message->clear();
    for (const ScrollPair& pair : m_pairs) {
        // Hidden rows cannot be edited; they go back with what loading put there.
        if (!pair.text->isVisibleTo(this)) continue;
        if (!isWholeByteText(pair.text->text().toStdString())) {
            markInvalid(pair);
            return false;
        }
    }
    // Taken as loaded before the document announces the change: this form is its source, not
    // a window to warn of it.
    m_loaded = controlState();
    m_stale = false;
    m_document.edit(session::ChangeSource::Edit, [this](ParameterImage& image) {
        for (const ScrollPair& pair : m_pairs)
            setFieldText(image, pair.field, pair.text->text().toStdString());
        // Each list re-encodes its cell from the cell's current fields, so the three lists of
        // one CoinControl together keep its bit 6.
        for (const ListControl& c : m_lists)
            setFieldValue(image, c.field, c.list->currentIndex());
    });
    return true;
}

QString SettingsForm::message() const
{
    return m_message->text();
}

void SettingsForm::markInvalid(const ScrollPair& pair)
{
    QPalette marked = pair.text->palette();
    marked.setColor(QPalette::Base, QColor(0xFF, 0xC0, 0xC0));
    pair.text->setPalette(marked);
    pair.text->setFocus();
    pair.text->selectAll();
    m_message->setText(QStringLiteral("%1 must be a whole number from %2 to %3; nothing was written.")
                           .arg(pair.name)
                           .arg(pair.field.kind->low)
                           .arg(pair.field.kind->high));
}

void SettingsForm::comOkClicked()
{
    if (!tranback()) return;
    // OK is shown only by the openers that lead on to sampling (editing hides it).
    emit samplingRequested();
    m_leaving = true;
    close();
}

void SettingsForm::command2Clicked()
{
    if (!m_stale) {
        if (tranback()) emit programRequested();
        return;
    }
    ask(this, "ConfirmOverwrite",
        QStringLiteral(
            "The selector's settings were replaced after this form was loaded. Program the values of "
            "this form over them?"),
        QStringLiteral("&Program"), QStringLiteral("&Cancel"), [this] {
            if (tranback()) emit programRequested();
        });
}

void SettingsForm::comDefaultClicked()
{
    m_document.edit(session::ChangeSource::Default,
                    [](ParameterImage& image) { loadSettingsDefault(image); });
    m_leaving = true;
    close();
    emit defaultLoaded();
}

} // namespace quarvel
