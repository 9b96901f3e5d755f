#include "ReplaceSeam.h"

#include <utility>

namespace Process {
namespace {

thread_local BeforeRename* t_current = nullptr;

}  // namespace

BeforeRename::BeforeRename() : m_outer(std::exchange(t_current, this)) {}

BeforeRename::~BeforeRename()
{
    t_current = m_outer;
}

void BeforeRename::reached()
{
    BeforeRename* seam = t_current;
    if (!seam || !seam->m_write)
        return;
    // Not again within itself: a save the write makes is another program's, with no seam.
    t_current = nullptr;
    seam->m_write();
    t_current = seam;
}

}  // namespace Process
