#pragma once

// What the tests ask of the system they run on.

namespace testsupport {

// The CPU time this process has used so far, user and system, in milliseconds.
double ProcessCpuMs();

// Whether this is a Windows build running under Wine rather than on Windows.
bool RunningUnderWine();

}  // namespace testsupport
