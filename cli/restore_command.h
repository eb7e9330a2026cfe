#pragma once

#include "device_command.h"

#include "image/parameter_image.h"

namespace quarvel::cli {

// restore: a backup into the selector exactly as it was taken (no identification stamped),
// read back and compared. A backup of another selector is refused unless --force.
class RestoreCommand final : public DeviceCommand
{
    Q_OBJECT

public:
    explicit RestoreCommand(const Invocation& invocation, QObject* parent = nullptr);

private:
    std::optional<int> check() override;
    void begin() override;
    void restoreFinished(const session::ProgramResult& result);

    ParameterImage m_backup;
    bool m_otherSelector = false; // refused before the first write
};

} // namespace quarvel::cli
