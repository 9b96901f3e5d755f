#pragma once

// A seam for tests only: the moment in a replace between its last look at the state and its
// rename, which no look can cover. A test puts another program's write there to show that the
// write is kept; the program itself never sets one, and a replace then runs straight through.

#include <functional>

namespace Process {

// While it lives, every replace on the thread that made it runs the function it holds in that
// moment (a replace the function itself makes runs straight through).
class BeforeRename
{
public:
    BeforeRename();
    ~BeforeRename();
    BeforeRename(const BeforeRename&) = delete;
    BeforeRename& operator=(const BeforeRename&) = delete;

    BeforeRename& operator=(std::function<void()> write)
    {
        m_write = std::move(write);
        return *this;
    }

    // Called by a replace in that moment.
    static void reached();

private:
    std::function<void()> m_write;
    BeforeRename* m_outer;
};

}  // namespace Process
