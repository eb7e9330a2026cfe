#pragma once

#include "device_command.h"

namespace quarvel::cli {

// restore: a backup into the selector exactly as it was taken (no identification stamped),
// read back and compared. A backup of another selector is refused unless --force.
class RestoreCommand final : public FileProgrammingCommand
{
    Q_OBJECT

public:
    explicit RestoreCommand(const Invocation& invocation, QObject* parent = nullptr);

private:
    void begin() override;
    void restoreFinished(const session::ProgramResult& result);

    bool m_otherSelector = false; // refused before the first write
};

} // namespace quarvel::cli
