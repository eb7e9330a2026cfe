#pragma once

#include "device_command.h"

#include "image/parameter_image.h"

namespace quarvel::cli {

// program: a coin data file into the selector as Open & Program does it, then (unless
// --no-verify) the selector read back and compared cell by cell.
class ProgramCommand final : public DeviceCommand
{
    Q_OBJECT

public:
    explicit ProgramCommand(const Invocation& invocation, QObject* parent = nullptr);

private:
    std::optional<int> check() override;
    void begin() override;
    void programFinished(const session::ProgramResult& result);

    ParameterImage m_file; // the file's image
};

} // namespace quarvel::cli
