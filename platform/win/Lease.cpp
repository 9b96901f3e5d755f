#include "Lease.h"

namespace platform {

// Windows answers the same question with opportunistic locks, which this program does not take:
// the replace there works with the file's stamps and ReplaceFileW's sharing rules.
Openers TakeWriteLease(const File&)
{
    return Openers::Unknown;
}

bool WriteLeaseHeld(const File&)
{
    return false;
}

void ReleaseWriteLease(const File&) {}

Openers WaitUntilOnlyOpenHere(const File&, std::chrono::milliseconds)
{
    return Openers::Unknown;
}

}  // namespace platform
