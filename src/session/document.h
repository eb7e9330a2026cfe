#pragma once

#include "image/parameter_image.h"
#include "sampling/sampling_output.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <set>
#include <vector>

namespace quarvel::session {

// Where a change of the document came from.
enum class ChangeSource
{
    Read,     // the selector's memory, read in full
    File,     // a coin data file opened
    Default,  // a default image loaded
    Sampling, // a channel taught or calibrated
    Edit,     // the user's edits taken back from a window
    Stamp     // programming stamped the identification cells
};

// One announced change of the document: the selector cells whose text changed, and from where.
struct DocumentChange
{
    std::vector<int> cells;
    ChangeSource source = ChangeSource::Edit;
    // Whatever the user had loaded is gone (a read, a file, a default), not edited in part.
    bool replaced() const
    {
        return source == ChangeSource::Read || source == ChangeSource::File ||
               source == ChangeSource::Default;
    }
};

// The image the user is working on. It changes only through edit(), which announces the cells
// that changed: every window that shows it follows changed(), and nobody changes it unheard.
class Document : public QObject
{
    Q_OBJECT

public:
    explicit Document(QObject* parent = nullptr);

    const ParameterImage& image() const { return m_image; }
    // The one way to change it: change is applied to the image, then the cells whose text
    // changed are announced as coming from source.
    void edit(ChangeSource source, const std::function<void(ParameterImage&)>& change);
    // The whole image replaced (a read, a file, a default): announced even when no cell differs.
    void replace(const ParameterImage& image, ChangeSource source);

    // Channels whose references or coin value the user taught or edited since the document
    // was last replaced: programming spares them its question.
    const std::set<int>& touchedChannels() const { return m_touched; }
    // Whether it holds work not yet saved or programmed: edits and teaching since it was last
    // loaded, saved or programmed.
    bool isModified() const { return m_modified; }
    void markSaved() { m_modified = false; }
    // A window's edits not yet taken back (a form's text boxes, typed coin values) are work the
    // document would lose as much as its own: the window says so through pending for as long
    // as holder lives.
    void holdPendingWork(QObject* holder, std::function<bool()> pending);
    // The one rule before anything replaces the document or the program closes: true while it
    // holds work neither saved nor programmed, here or in a window that holds it.
    bool hasUnsavedWork() const;
    // The selector now holds it (all cells verified, when verify says so).
    void markProgrammed(bool allVerified);

    // cdt: how a sampling run stores its references. Calibrated after "Open & Program" (each
    // channel's SigmaA is kept), Taught after Teach.
    sampling::ReferenceStore cdt() const { return m_cdt; }
    void setCdt(sampling::ReferenceStore store) { m_cdt = store; }

    // It belongs to another selector than the one on the port now: the next programming of it
    // asks this question first. Forgotten when it is replaced or programmed.
    void markOfOtherSelector(const QString& question) { m_otherSelector = question; }
    const QString& otherSelector() const { return m_otherSelector; }

signals:
    void changed(const quarvel::session::DocumentChange& change);

private:
    void announce(ChangeSource source);

    ParameterImage m_image;
    ParameterImage m_announced; // as last announced
    std::set<int> m_touched;
    bool m_modified = false;
    sampling::ReferenceStore m_cdt = sampling::ReferenceStore::Taught;
    QString m_otherSelector;
    struct PendingWork
    {
        QPointer<QObject> holder;
        std::function<bool()> pending;
    };
    std::vector<PendingWork> m_pending;
};

} // namespace quarvel::session
