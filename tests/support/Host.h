#pragma once

// What the tests ask of the system they run on.

#include "Wine.h"

namespace testsupport {

// The CPU time this process has used so far, user and system, in milliseconds.
double ProcessCpuMs();

// Whether this process may do what only root may (never on Windows).
bool RunningAsRoot();

}  // namespace testsupport
