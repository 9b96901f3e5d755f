#pragma once

// What the decompressor finds, at every step: nothing wrong (exit status 0), or the exit status
// it ends with and the cause, one line a person reads.

#include "StagingProtocol.h"

#include <string>
#include <utility>

namespace unvell {

enum ExitCode : int {
    kExitOk = protocol::kExitOk,
    kExitFailure = protocol::kExitFailure,
    kExitUsage = protocol::kExitUsage,
    kExitNotAState = protocol::kExitNotAState,
};

class [[nodiscard]] Status
{
public:
    Status() = default;  // nothing wrong
    // The input is no state the editor can edit.
    static Status notAState(std::string cause) { return {kExitNotAState, std::move(cause)}; }
    // The input could not be read, or the output not written.
    static Status failed(std::string cause) { return {kExitFailure, std::move(cause)}; }

    bool ok() const { return m_exitCode == kExitOk; }
    int exitCode() const { return m_exitCode; }
    const std::string& cause() const { return m_cause; }

private:
    Status(int exitCode, std::string cause) : m_exitCode(exitCode), m_cause(std::move(cause)) {}

    int m_exitCode = kExitOk;
    std::string m_cause;
};

}  // namespace unvell
