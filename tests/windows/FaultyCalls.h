#pragma once

// Windows calls that fail on demand: this test build's own definitions of platform::calls, linked
// in place of the real ones. A fault names a call as Windows does ("ReplaceFileW"), the use that
// fails first (counted from Arm, or from the moment the fault named in `after` fired), how many
// uses in a row fail, and the error they fail with.

#include <string>
#include <vector>

#include <windows.h>

namespace faults {

struct Fault {
    std::string call;
    int nth = 1;
    DWORD error = ERROR_SUCCESS;
    int times = 1;
    std::string after;  // counts only once a fault of this call has fired
};

void Arm(const std::vector<Fault>& faults);
void Disarm();
// How many uses failed since Arm.
int Fired();

}  // namespace faults
