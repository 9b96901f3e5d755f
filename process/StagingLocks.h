#pragma once

// The two locks of a frame, with the messages a person reads when one cannot be had: the state
// file's (two programs never edit one state at once) and the program folder's (one frame at a
// time uses its working files). Every program takes them in that order.

#include "FileLock.h"
#include "Outcome.h"
#include "StatePath.h"

#include <QString>

#include <chrono>

namespace Process {

Outcome LockStateFile(platform::FileLock& lock, const CheckedState& state,
                      std::chrono::milliseconds wait);
Outcome LockProgramFolder(platform::FileLock& lock, const QString& programFolder,
                          std::chrono::milliseconds wait);

}  // namespace Process
