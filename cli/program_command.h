#pragma once

#include "device_command.h"

namespace quarvel::cli {

// program: a coin data file into the selector as Open & Program does it, then (unless
// --no-verify) the selector read back and compared cell by cell.
class ProgramCommand final : public FileProgrammingCommand
{
    Q_OBJECT

public:
    explicit ProgramCommand(const Invocation& invocation, QObject* parent = nullptr);

private:
    void begin() override;
    void programFinished(const session::ProgramResult& result);
};

} // namespace quarvel::cli
