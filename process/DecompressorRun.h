#pragma once

// Running the decompressor on a state and waiting for its completion flag.

#include "Outcome.h"

#include <QString>

#include <chrono>

namespace Process {

// Starts "<programFolder>/Unvell -dec <statePath>" and waits, blocking the calling thread (a
// job's or a command's) without spending CPU, until it has created "flag.unv" (which it then
// removes), has ended without it, or the bound has passed (it is then stopped). The message of a
// failure names the state and the cause the decompressor gave.
Outcome RunDecompressor(const QString& programFolder, const QString& statePath,
                        std::chrono::milliseconds waitBound);

}  // namespace Process
