#pragma once

#include "device_command.h"

namespace quarvel::cli {

// check: how healthy the line to the selector is, from timed reads of cell 0.
class CheckCommand final : public DeviceCommand
{
    Q_OBJECT

public:
    using DeviceCommand::DeviceCommand;

private:
    void begin() override;
    void checked(const session::CheckResult& result);
};

} // namespace quarvel::cli
