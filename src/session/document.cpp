#include "session/document.h"

#include "session/programming.h"

#include <algorithm>
#include <utility>

namespace quarvel::session {

Document::Document(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<quarvel::session::DocumentChange>("quarvel::session::DocumentChange");
}

void Document::edit(ChangeSource source, const std::function<void(ParameterImage&)>& change)
{
    change(m_image);
    announce(source);
}

void Document::replace(const ParameterImage& image, ChangeSource source)
{
    edit(source, [&image](ParameterImage& mine) { mine = image; });
}

void Document::markProgrammed(bool allVerified)
{
    m_otherSelector.clear();
    if (allVerified) m_modified = false;
}

void Document::holdPendingWork(QObject* holder, std::function<bool()> pending)
{
    std::erase_if(m_pending,
                  [holder](const PendingWork& work) { return !work.holder || work.holder == holder; });
    m_pending.push_back({holder, std::move(pending)});
}

bool Document::hasUnsavedWork() const
{
    return m_modified || std::any_of(m_pending.begin(), m_pending.end(),
                                     [](const PendingWork& work) { return work.holder && work.pending(); });
}

void Document::announce(ChangeSource source)
{
    std::vector<int> cells;
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        if (m_image.text(a) != m_announced.text(a)) cells.push_back(a);
    m_announced = m_image;
    const DocumentChange change{std::move(cells), source};
    if (change.replaced()) {
        m_otherSelector.clear();
        m_touched.clear();
        m_modified = false;
    } else if (source != ChangeSource::Stamp && !change.cells.empty()) {
        m_touched.merge(channelsOf(change.cells));
        m_modified = true;
    }
    // A replacement is news even when no cell changed: windows drop what they showed of the old.
    if (!change.cells.empty() || change.replaced()) emit changed(change);
}

} // namespace quarvel::session
