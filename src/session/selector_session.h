#pragma once

#include "session/device.h"
#include "session/document.h"
#include "session/virtual_bench.h"

#include <QObject>

namespace quarvel::session {

// What both front ends hold: the document, the device, the virtual selector's bench, and the
// few operations that join document and device. Everything else is asked of the part itself.
class SelectorSession : public QObject
{
    Q_OBJECT

public:
    explicit SelectorSession(QObject* parent = nullptr);
    ~SelectorSession() override;

    Document& document() { return m_document; }
    const Document& document() const { return m_document; }
    Device& device() { return m_device; }
    const Device& device() const { return m_device; }
    VirtualBench& bench() { return m_bench; }

    // A full read of the selector; on success its cells 0..188 replace the document's (the
    // tool's own cells from 189 up stay), announced before the caller hears the result.
    Started<ReadOperation> readSelector();
    // Programs the request; without an image it sends the document, stamped first, and asks
    // first about channels the user did not touch or a document of another selector as the
    // document says. On success the document counts as programmed.
    Started<ProgramOperation> program(ProgramRequest request);
    // One sampling run of channel 1..12. On success the references are stored into the
    // document as its cdt says, announced before the caller hears the result.
    Started<SamplingOperation> startSampling(int channel);

private:
    Document m_document;
    Device m_device;
    VirtualBench& m_bench;
};

} // namespace quarvel::session
