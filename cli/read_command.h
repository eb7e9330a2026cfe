#pragma once

#include "device_command.h"

namespace quarvel::cli {

// read: the selector's memory into the image the desktop program would hold, then to a coin
// data file (-o) or printed as settings.
class ReadCommand final : public DeviceCommand
{
    Q_OBJECT

public:
    explicit ReadCommand(const Invocation& invocation, QObject* parent = nullptr);

private:
    void begin() override;
    void readFinished(const session::ReadResult& result);
};

} // namespace quarvel::cli
