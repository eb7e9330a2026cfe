#include "ui/main/recent_files.h"

#include "image/coin_data_file.h"
#include "image/qt/user_folders.h"
#include "session/port_names.h"
#include "session/selector_session.h"
#include "ui/main/main_texts.h"

#include <QDir>
#include <QFileInfo>

namespace quarvel {

namespace t = main_texts;
using main_texts::q;

RecentFiles::RecentFiles(session::SelectorSession& session, StatusLine status, QWidget* window)
    : m_session(session), m_status(std::move(status)), m_window(window), m_chooser(dialogFileChooser())
{
    if (hostPlatform() != Platform::Windows) {
        // There is no c:\ here: the same names in the program's data folder.
        const QString data = userDataFolder();
        m_state.recentName1 = QDir(data).filePath(QStringLiteral("coin.syn")).toStdString();
        m_state.recentName2 = QDir(data).filePath(QStringLiteral("aaa.syn")).toStdString();
    }
}

void RecentFiles::loadState()
{
    const StateFileLoad loaded = session::loadState();
    if (!loaded.found) return;
    const StateFile windowsDefaults;
    const std::string name1 = m_state.recentName1;
    const std::string name2 = m_state.recentName2;
    m_state = loaded.state;
    if (m_state.recentName1 == windowsDefaults.recentName1) m_state.recentName1 = name1;
    if (m_state.recentName2 == windowsDefaults.recentName2) m_state.recentName2 = name2;
}

FileSaveResult RecentFiles::saveState() const
{
    return session::saveState(m_state);
}

void RecentFiles::loadMostRecent()
{
    const QString path = QString::fromStdString(m_state.recentName1);
    // A most recent file that is gone is normal (first run, another machine's path).
    if (!QFileInfo::exists(path)) return;
    const session::CoinDataCheck check = session::checkCoinDataFile(path, false);
    if (!check) {
        m_status.show(session::refusalText(*check.refusal), session::StatusColour::Red);
        return;
    }
    ParameterImage image = m_session.document().image();
    storeCoinData(check.file->values, image);
    m_session.document().replace(image, session::ChangeSource::File);
}

bool RecentFiles::save()
{
    const QString path = QString::fromStdString(m_state.recentName1);
    const FileSaveResult saved = session::saveCoinData(path, m_session.document().image());
    if (!saved.saved)
        m_status.show(saved.error, session::StatusColour::Red);
    else
        m_status.show(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)),
                      session::StatusColour::Green);
    if (saved.saved) m_session.document().markSaved();
    return saved.saved;
}

void RecentFiles::saveAs(const Done& done)
{
    m_chooser(m_window, FileChoice::Save, q(t::kSaveTitle), q(t::kCdtFilter),
              [this, done](const QString& path) {
                  if (path.isEmpty()) return;
                  m_state.setMostRecent(path.toStdString());
                  const bool saved = save();
                  // The status line now holds the outcome, worded for whoever asked.
                  if (done) done(saved, m_status.text());
              });
}

void RecentFiles::chooseToOpen(std::function<void(const QString&)> done)
{
    m_chooser(m_window, FileChoice::Open, q(t::kOpenTitle), q(t::kCdtFilter), std::move(done));
}

void RecentFiles::open(const std::function<void(bool)>& done)
{
    chooseToOpen([this, done](const QString& path) {
        if (path.isEmpty()) {
            if (done) done(false);
            return;
        }
        const bool opened = static_cast<bool>(loadChecked(path, false));
        if (done) done(opened);
    });
}

session::CoinDataCheck RecentFiles::loadChecked(const QString& path, bool forProgramming)
{
    session::CoinDataCheck check = session::checkCoinDataFile(path, forProgramming);
    if (check)
        load(path, check);
    else
        showRefusal(check);
    return check;
}

void RecentFiles::load(const QString& path, const session::CoinDataCheck& check)
{
    m_state.setMostRecent(path.toStdString());
    ParameterImage image = m_session.document().image();
    storeCoinData(check.file->values, image);
    m_session.document().replace(image, session::ChangeSource::File);
}

void RecentFiles::showRefusal(const session::CoinDataCheck& check)
{
    m_status.show(session::refusalText(*check.refusal), session::StatusColour::Red);
}

} // namespace quarvel
