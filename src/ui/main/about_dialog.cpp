#include "ui/main/about_dialog.h"

#include "image/qt/state_file_io.h"
#include "session/backup.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace quarvel {

namespace {

constexpr char kTitle[] = "About QUARVEL";
constexpr char kHeading[] = "QUARVEL   Coin Selector programmer";
constexpr char kVersion[] = "Version:";
constexpr char kQtVersion[] = "Qt:";
constexpr char kStateFile[] = "State file:";
constexpr char kSettings[] = "Settings:";
constexpr char kBackups[] = "Backups folder:";
constexpr char kOpenBackups[] = "Open &backups folder";
constexpr char kCannotCreate[] = "The backups folder %1 cannot be created.";
constexpr char kCannotOpen[] = "No file manager opened %1.";
constexpr char kLicence[] = "Free software under the GNU General Public License, version 3 or later.";

QLabel* pathLabel(const QString& path, const char* name)
{
    auto* label = new QLabel(QDir::toNativeSeparators(path));
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    return label;
}

} // namespace

AboutPaths AboutPaths::current()
{
    return {stateFilePath(), QSettings().fileName(), session::BackupFolder::standardPath()};
}

AboutDialog::AboutDialog(const AboutPaths& paths, UrlOpener open, QWidget* parent)
    : QDialog(parent), m_paths(paths), m_open(std::move(open))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QLatin1String(kTitle));

    auto* heading = new QLabel(QLatin1String(kHeading));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    auto* form = new QFormLayout;
    auto* version = new QLabel(QCoreApplication::applicationVersion());
    version->setObjectName(QStringLiteral("labelVersion"));
    auto* qt = new QLabel(QString::fromLatin1(qVersion()));
    qt->setObjectName(QStringLiteral("labelQtVersion"));
    form->addRow(QLatin1String(kVersion), version);
    form->addRow(QLatin1String(kQtVersion), qt);
    form->addRow(QLatin1String(kStateFile), pathLabel(paths.stateFile, "labelStateFile"));
    form->addRow(QLatin1String(kSettings), pathLabel(paths.settings, "labelSettings"));
    form->addRow(QLatin1String(kBackups), pathLabel(paths.backups, "labelBackups"));

    m_result = new QLabel;
    m_result->setObjectName(QStringLiteral("labelAboutResult"));
    m_result->setWordWrap(true);
    m_result->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QPushButton* openBackups = buttons->addButton(QLatin1String(kOpenBackups), QDialogButtonBox::ActionRole);
    openBackups->setObjectName(QStringLiteral("cmdOpenBackups"));
    openBackups->setAutoDefault(false);
    connect(openBackups, &QPushButton::clicked, this, &AboutDialog::openBackups);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QLatin1String(kLicence)));
    layout->addWidget(m_result);
    layout->addWidget(buttons);
    setMinimumWidth(520);
}

void AboutDialog::openBackups()
{
    // No backup taken yet leaves no folder; a file manager cannot show one that is not there.
    const QString folder = m_paths.backups;
    QString problem;
    if (!QDir().mkpath(folder))
        problem = QLatin1String(kCannotCreate);
    else if (!m_open(QUrl::fromLocalFile(folder)))
        problem = QLatin1String(kCannotOpen);
    m_result->setText(problem.arg(QDir::toNativeSeparators(folder)));
    m_result->setStyleSheet(QStringLiteral("color: red"));
    m_result->setVisible(!problem.isEmpty());
}

} // namespace quarvel
