#include "WindowJobs.h"

#include <QApplication>
#include <QWidget>

#include <utility>

namespace forms {

WindowJobs::~WindowJobs()
{
    m_leaving = true;
    m_job.wait();
}

void WindowJobs::start(std::function<Process::Outcome()> work,
                       std::function<void(const Process::Outcome&)> done)
{
    if (running())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool started = m_job.start(
        std::move(work), [this, done = std::move(done)](const Process::Outcome& outcome) {
            QApplication::restoreOverrideCursor();
            if (m_leaving)
                return;
            done(outcome);
            if (std::exchange(m_closeWhenDone, false))
                m_window->close();
        });
    Q_ASSERT(started);  // asked running() first
}

bool WindowJobs::putOffClose()
{
    if (!running())
        return false;
    m_closeWhenDone = true;
    return true;
}

}  // namespace forms
