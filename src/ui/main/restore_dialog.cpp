#include "ui/main/restore_dialog.h"

#include "session/backup.h"
#include "session/document_files.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quarvel {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kShownDifferences = 6;

QString differencesText(const QStringList& names)
{
    if (names.isEmpty()) return QStringLiteral("same as the document");
    QStringList shown = names.mid(0, kShownDifferences);
    if (names.size() > kShownDifferences)
        shown << QStringLiteral("%1 more").arg(names.size() - kShownDifferences);
    return shown.join(QStringLiteral(", "));
}

} // namespace

RestoreDialog::RestoreDialog(const QString& folder, const ParameterImage& document, QWidget* parent)
    : QDialog(parent), m_list(new QTreeWidget(this)), m_notice(new QLabel(this))
{
    setObjectName(QStringLiteral("RestoreSelector"));
    setWindowTitle(QStringLiteral("Restore Selector"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* intro = new QLabel(QStringLiteral("&Backups of the selector's memory, newest first:"), this);
    intro->setBuddy(m_list);
    m_list->setObjectName(QStringLiteral("ListBackups"));
    m_list->setAccessibleName(QStringLiteral("Backups"));
    m_notice->setObjectName(QStringLiteral("LabelRestoreNotice"));
    m_notice->setWordWrap(true);
    m_notice->hide();
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Time"), QStringLiteral("Port"),
                             QStringLiteral("Serial no."), QStringLiteral("Differs from the document in")});
    for (const session::BackupEntry& entry : session::BackupFolder(folder).entries()) {
        const session::CoinDataCheck file = session::checkCoinDataFile(entry.path, true);
        // A backup that cannot be read back is listed, and cannot be chosen.
        const QString differences =
            file ? differencesText(session::differingFields(file.file->image, document))
                 : session::refusalText(*file.refusal);
        auto* item = new QTreeWidgetItem(
            m_list, {entry.taken.date().toString(Qt::ISODate),
                     entry.taken.time().toString(QStringLiteral("HH:mm:ss")), entry.port,
                     entry.serial < 0 ? QString() : QString::number(entry.serial), differences});
        item->setData(0, kPathRole, entry.path);
        item->setToolTip(4, differences);
        if (!file) item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setStretchLastSection(true);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    else
        intro->setText(QStringLiteral("No backups yet in %1: one is taken before every programming.")
                           .arg(QDir::toNativeSeparators(folder)));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Cancel"));
    QPushButton* restore = buttons->addButton(QStringLiteral("&Restore…"), QDialogButtonBox::AcceptRole);
    m_restore = restore;
    restore->setObjectName(QStringLiteral("ComRestore"));
    // A backup that cannot be read back cannot be chosen.
    const auto choosable = [](const QTreeWidgetItem* item) {
        return item && (item->flags() & Qt::ItemIsEnabled);
    };
    restore->setEnabled(choosable(m_list->currentItem()));
    connect(m_list, &QTreeWidget::currentItemChanged, restore,
            [this, restore, choosable](QTreeWidgetItem* item) {
                restore->setEnabled(choosable(item) && m_notice->isHidden());
            });
    connect(m_list, &QTreeWidget::itemActivated, this, [this, restore] {
        if (restore->isEnabled()) accept();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, &RestoreDialog::accepted);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_notice);
    layout->addWidget(intro);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    // Room for the differences, within a 1024x768 screen at 1.5x (683x512 points) as well.
    QSize size(720, 360);
    if (const QScreen* screen = this->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
}

void RestoreDialog::refuseRestore(const QString& why)
{
    m_notice->setText(why);
    m_notice->show();
    m_restore->setEnabled(false);
}

void RestoreDialog::accepted()
{
    const QTreeWidgetItem* item = m_list->currentItem();
    if (item && (item->flags() & Qt::ItemIsEnabled)) emit chosen(item->data(0, kPathRole).toString());
}

} // namespace quarvel
