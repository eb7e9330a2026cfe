#pragma once

#include "device_command.h"

#include "image/parameter_image.h"

namespace quarvel::cli {

// program: a coin data file into the selector as Open & Program does it, and with --verify
// the selector read back and compared cell by cell.
class ProgramCommand final : public DeviceCommand
{
    Q_OBJECT

public:
    explicit ProgramCommand(const Invocation& invocation, QObject* parent = nullptr);

private:
    std::optional<int> check() override;
    void begin() override;
    void programFinished(DeviceSession::Result result);
    void verifyFinished(DeviceSession::Result result);

    ParameterImage m_image;    // the file's image; programming stamps its fixed cells into it
    ParameterImage m_readBack; // what the selector holds afterwards
};

} // namespace quarvel::cli
