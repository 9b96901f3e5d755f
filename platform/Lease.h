#pragma once

// Whether other programs have a file open, asked of the system instead of guessed from the
// file's stamps. Linux grants a write lease on a file only while no open file but the leasing
// one reaches it (this program's other handles and its children's included), and breaks it the
// moment another program opens the file: "someone is writing" and "they have finished" become
// facts. Windows answers with sharing modes instead: its "lease" is a handle that keeps other
// programs from opening the file to write (their open fails) rather than one they break, and
// "open" there means open to write. Elsewhere (another user's file, network and user-space file
// systems) the answer is Unknown and the caller falls back on the file's stamps.

#include "File.h"

#include <chrono>

namespace platform {

enum class Openers {
    None,     // nobody else has it open: the lease is held (take) or could be (waits)
    Others,   // another open file reaches it
    Unknown,  // no lease can be had here
};

// Takes a write lease through `file`, which must stay open while it is held. A program that
// opens the file then waits in its open until the lease is let go, which happens at once, in
// the signal the system sends: it never stalls on us, and WriteLeaseHeld turns false.
Openers TakeWriteLease(const File& file);
// The lease taken through `file` is still held: nobody has opened the file since.
bool WriteLeaseHeld(const File& file);
void ReleaseWriteLease(const File& file);

// Waits until no open file but `file` reaches its file, up to `wait` (a writer that still has
// it open has not finished). Others when one still does then.
Openers WaitUntilOnlyOpenHere(const File& file, std::chrono::milliseconds wait);

}  // namespace platform
