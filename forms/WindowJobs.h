#pragma once

// A window's loads and saves, run beside it one at a time: the busy pointer shows while one
// runs, a close asked for meanwhile waits for its end, and a window being destroyed waits for it
// and hears nothing of it.

#include "BackgroundJob.h"
#include "Outcome.h"

#include <functional>

class QWidget;

namespace forms {

class WindowJobs
{
public:
    explicit WindowJobs(QWidget* window) : m_window(window) {}
    ~WindowJobs();  // waits for the job under way; its `done` does not run
    WindowJobs(const WindowJobs&) = delete;
    WindowJobs& operator=(const WindowJobs&) = delete;

    bool running() const { return m_job.running(); }

    // Runs `work` beside the window; `done` runs on the window's thread with its outcome, and
    // then the window closes if a close was put off meanwhile. Nothing starts while a job runs.
    void start(std::function<Process::Outcome()> work,
               std::function<void(const Process::Outcome&)> done);

    // For a close asked for now: true when it must wait for the job under way, which then
    // closes the window.
    bool putOffClose();

private:
    QWidget* m_window;
    bool m_closeWhenDone = false;  // a close was asked for while a job ran
    bool m_leaving = false;        // being destroyed: a job that ends now reports to nobody
    Process::BackgroundJob m_job;
};

}  // namespace forms
