#include "session/selector_session.h"

#include "link/program_transfer.h"
#include "sampling/sampling_output.h"

namespace quarvel::session {

SelectorSession::SelectorSession(QObject* parent) : QObject(parent), m_bench(VirtualBench::of(m_device)) {}

SelectorSession::~SelectorSession() = default;

Started<ReadOperation> SelectorSession::readSelector()
{
    auto started = m_device.read();
    // Connected before the caller can connect: the document has changed when it hears.
    if (started)
        connect(started.operation, &ReadOperation::finished, this, [this](const ReadResult& result) {
            if (!result.succeeded() || !result.image) return;
            m_document.edit(ChangeSource::Read, [&read = *result.image](ParameterImage& image) {
                for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
                    image.setText(a, read.text(a));
            });
        });
    return started;
}

Started<ProgramOperation> SelectorSession::program(ProgramRequest request)
{
    const bool ofDocument = !request.image;
    if (ofDocument) {
        // Every programmed selector, and every file saved afterwards, carries the
        // identification. The event loop stays live while programming runs: an edit made
        // meanwhile must not reach the selector half-way through, so the ranges go from a copy.
        ParameterImage stamped = m_document.image();
        link::stampFixedCells(stamped);
        request.image = stamped;
        request.spared = m_document.touchedChannels();
        request.otherSelector = m_document.otherSelector();
    }
    auto started = m_device.program(request);
    if (!started || !ofDocument) return started;
    // Stamped only once the run has begun: a refused one leaves the document as it was.
    m_document.edit(ChangeSource::Stamp, [](ParameterImage& image) { link::stampFixedCells(image); });
    connect(started.operation, &ProgramOperation::finished, this, [this](const ProgramResult& result) {
        if (result.succeeded()) m_document.markProgrammed(result.mismatches.empty());
    });
    return started;
}

Started<SamplingOperation> SelectorSession::startSampling(int channel)
{
    auto started = m_device.startSampling(channel);
    if (started)
        connect(started.operation, &SamplingOperation::finished, this, [this](const SamplingResult& result) {
            if (!result.succeeded() || !result.reference) return;
            m_document.edit(ChangeSource::Sampling, [&](ParameterImage& image) {
                sampling::storeReference(image, result.channel - 1, *result.reference, m_document.cdt());
            });
        });
    return started;
}

} // namespace quarvel::session
