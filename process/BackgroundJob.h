#pragma once

// Work that ends in an Outcome (a load, a save) run on a thread of its own, so that the thread
// that starts it (a window's) keeps painting and answering meanwhile, and hears when it has
// ended. The work must not touch anything the starting thread uses meanwhile: it gets copies and
// hands back results.

#include "Outcome.h"

#include <QObject>

#include <functional>

class QThread;

namespace Process {

class BackgroundJob : public QObject
{
public:
    explicit BackgroundJob(QObject* parent = nullptr);
    ~BackgroundJob() override;  // waits for work under way: a state is never left half-done

    bool running() const { return m_thread != nullptr; }

    // Runs `work` on a new thread; `done` then runs on this object's thread with its outcome,
    // after which running() is false again. Nothing starts while a job is running.
    [[nodiscard]] bool start(std::function<Outcome()> work,
                             std::function<void(const Outcome&)> done);

    // Blocks until the work under way has ended and `done` has run.
    void wait();

private:
    void finish();

    QThread* m_thread = nullptr;
    quint64 m_generation = 0;
    Outcome m_outcome;
    std::function<void(const Outcome&)> m_done;
};

}  // namespace Process
