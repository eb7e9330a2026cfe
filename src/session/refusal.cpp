// Refusals as the user reads them; apart from the results so that these need no driver.
#include "session/results.h"

#include "link/qt/serial_link.h"

namespace quarvel::session {

QString refusalText(const Refusal& refusal)
{
    switch (refusal.kind) {
    case Refusal::Kind::NoPort:
        return link::SerialLink::noPortText();
    case Refusal::Kind::Busy:
        return link::SerialLink::busyText();
    case Refusal::Kind::BadChannel:
        return QStringLiteral("There is no coin channel %1; channels are 1 to 12.").arg(refusal.number);
    case Refusal::Kind::FileUnreadable:
        return refusal.detail;
    case Refusal::Kind::FileTooShort:
        // One arg() call: a path holding "%1" is not filled in again.
        return QStringLiteral("%1 holds %2 %3; programming needs %4")
            .arg(refusal.detail, QString::number(refusal.number),
                 QLatin1String(refusal.number == 1 ? "value" : "values"),
                 QString::number(ParameterImage::kSelectorCells));
    case Refusal::Kind::BackupTarget:
        return refusal.detail;
    }
    return {};
}

} // namespace quarvel::session
