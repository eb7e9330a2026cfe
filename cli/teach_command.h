#pragma once

#include "device_command.h"

#include "image/parameter_image.h"

#include <memory>

namespace quarvel::cli {

// teach: one sampling run of a channel from a file's image (or the default image), the
// references stored with the cdt rule, then -o and --program. The selector is not read first.
class TeachCommand final : public DeviceCommand
{
    Q_OBJECT

public:
    explicit TeachCommand(const Invocation& invocation, QObject* parent = nullptr);

private:
    std::optional<int> check() override;
    void begin() override;
    bool silentWhenInterrupted() const override { return false; }
    void samplingFinished(const session::SamplingResult& result);
    void programFinished(const session::ProgramResult& result);

    ParameterImage m_start;
    QString m_saved; // "; saved t.cdt" once written
};

} // namespace quarvel::cli
