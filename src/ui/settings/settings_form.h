#pragma once

#include "image/parameter_image.h"
#include "image/settings_model.h"
#include "session/document.h"

#include <QList>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <vector>

class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace quarvel {

// Who opens the settings form; each sets its own caption and buttons.
enum class SettingsOpener
{
    Edit,        // after a full read: program the selector from here
    Teach,       // offline, leading on to sampling
    Calibration, // after a full read, leading on to sampling
    LoadDefault  // reopened by its own "Load Default Value"
};

// The settings form: the image decoded into named controls, and written back by tranback().
// It reads the image once, when it is created; the controls are the edited state until
// tranback(). Closing it (any way) destroys it without writing anything.
class SettingsForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr char kEditCaption[] = "Edit";
    static constexpr char kSettingCaption[] = "Setting";

    explicit SettingsForm(session::Document& document, QWidget* parent = nullptr);

    // Caption and button visibility of the opener; buttons it leaves unchanged keep their state.
    void applyOpener(SettingsOpener opener);

    // Writes the controls into the image. A text box that is not a whole number 0..255 stops
    // it before anything is written: the box is marked and the form says which field and
    // range. Returns whether the image was written.
    bool tranback();

    // The validation text shown after a refused tranback(), empty otherwise.
    QString message() const;

    // Whether the controls hold changes that tranback() has not written.
    bool hasEdits() const;
    // The controls from the image again (an opener changed it); edits are dropped.
    void reload();
    // How a programming started here ended: green when it succeeded, else red.
    void showOutcome(bool succeeded, const QString& text);
    // The document changed under edits not yet taken back: the form says so, and Program asks
    // before writing its values over the new ones. reload() ends it.
    void documentReplaced();
    // While the selector is busy, Program waits: a second start would hide the first.
    void setDeviceBusy(bool busy);

signals:
    // "OK" wrote the image and the form was not opened for editing: sampling comes next.
    void samplingRequested();
    // "Program to Coin Selector" wrote the image: the three ranges should be programmed.
    void programRequested();
    // "Load Default Value" put the settings default into the document and closed the form; the
    // owner opens a new one.
    void defaultLoaded();

private:
    // A scroll bar and its text box over one byte field.
    struct ScrollPair
    {
        QScrollBar* scroll;
        QLineEdit* text;
        SettingField field;
        QString name; // what messages and screen readers call it
    };
    struct ListControl
    {
        QComboBox* list;
        SettingField field;
    };

    QGroupBox* buildBank(address::Bank bank);
    QWidget* buildOutputGroup();
    QWidget* buildButtons();
    void addFieldControls(QGridLayout* grid, int row, int column, const SettingField& field);
    void load();
    void markInvalid(const ScrollPair& pair);

    void comOkClicked();
    void command2Clicked();
    void comDefaultClicked();
    // Exit, Escape and the close box: edits not taken back are dropped only when the user says.
    void exitClicked();
    QList<QString> controlState() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QList<QString> m_loaded; // controlState() as loaded or last written
    bool m_leaving = false;
    bool m_stale = false; // the document was replaced under edits

    session::Document& m_document;
    std::vector<ScrollPair> m_pairs; // in loading order
    std::vector<ListControl> m_lists;
    QLabel* m_message = nullptr;
    QPalette m_messageRed;
    QPushButton* m_comOk = nullptr;
    QPushButton* m_comSave = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_comExit = nullptr;
    QPushButton* m_comDefault = nullptr;
};

} // namespace quarvel
