#include "ui/main/file_chooser.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace quarvel {

FileChooser dialogFileChooser()
{
    return [](QWidget* parent, FileChoice choice, const QString& title, const QString& filter,
              const std::function<void(const QString&)>& done) {
        auto* dialog = new QFileDialog(parent, title, QString(), filter);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setAcceptMode(choice == FileChoice::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog->setFileMode(choice == FileChoice::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        // A name typed without an extension gets the filter's (".cdt", ".txt"), so the file
        // shows up in the next Open dialog.
        static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
        if (const auto match = pattern.match(filter); match.hasMatch())
            dialog->setDefaultSuffix(match.captured(1));
        auto answered = std::make_shared<bool>(false);
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [done, answered](const QString& path) {
            *answered = true;
            done(path);
        });
        QObject::connect(dialog, &QFileDialog::rejected, dialog, [done, answered] {
            if (!*answered) done(QString());
        });
        dialog->open();
    };
}

} // namespace quarvel
