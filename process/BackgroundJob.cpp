#include "BackgroundJob.h"

#include <QThread>

#include <utility>

namespace Process {

BackgroundJob::BackgroundJob(QObject* parent) : QObject(parent) {}

BackgroundJob::~BackgroundJob()
{
    wait();
}

bool BackgroundJob::start(std::function<Outcome()> work, std::function<void(const Outcome&)> done)
{
    if (running())
        return false;
    m_done = std::move(done);
    // The thread writes m_outcome only; this thread reads it after the thread has finished.
    m_thread = QThread::create([this, work = std::move(work)] { m_outcome = work(); });
    // A wait() may have finished this job already and another may run by the time the signal
    // arrives: only the job it belongs to is finished by it.
    const quint64 generation = ++m_generation;
    connect(
        m_thread, &QThread::finished, this,
        [this, generation] {
            if (generation == m_generation)
                finish();
        },
        Qt::QueuedConnection);
    m_thread->start();
    return true;
}

void BackgroundJob::wait()
{
    if (!m_thread)
        return;
    m_thread->wait();
    finish();
}

void BackgroundJob::finish()
{
    if (!m_thread)
        return;  // already finished by wait()
    delete m_thread;
    m_thread = nullptr;
    // Handed over as a value of its own: `done` may start the next job, which writes
    // m_outcome again.
    auto done = std::exchange(m_done, {});
    const Outcome outcome = std::exchange(m_outcome, Outcome::success());
    if (done)
        done(outcome);
}

}  // namespace Process
