// Vemo_runcontrol: how a long run is stopped and how far it has come.
//
// The steps of a run (the trace stages, the join step, the writers) call
// RunCheckpoint(done, total) in their main loops. A checkpoint throws
// RunCancelled once the run's CancelFlag is raised, and otherwise hands the
// step's progress in per cent to the run's progress callback whenever the
// figure changes. Flag and callback belong to the thread that runs the job,
// for as long as a RunScope lives there; on any other thread (the join
// step's helper, a test calling a stage alone) a checkpoint costs one
// thread-local load and does nothing.
//
// A step that throws RunCancelled leaves what it wrote unfinished: the job
// that raised the flag removes its intermediate files and replaces no
// output file. The flag is a lock-free atomic, so a signal handler may
// raise it.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

class CancelFlag {
public:
    static_assert(std::atomic<bool>::is_always_lock_free, "raised from signal handlers");

    void Request() noexcept { m_requested.store(true, std::memory_order_relaxed); }
    bool IsRequested() const noexcept { return m_requested.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_requested{false};
};

// Thrown by a checkpoint of a run whose flag was raised.
class RunCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "run cancelled"; }
};

// A step's progress, 0 to 100.
using ProgressSink = std::function<void(int percent)>;

class RunScope {
public:
    // Either may be empty. Scopes nest: the inner one holds until it goes.
    RunScope(const CancelFlag* cancel, ProgressSink progress);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

    // A new step begins: its progress starts again from 0.
    void NewStep();

    // For the checkpoints: the scope of the calling thread, or nullptr.
    static RunScope* Current() noexcept;
    void Checkpoint(int64_t done, int64_t total);

private:
    const CancelFlag* m_cancel;
    ProgressSink m_progress;
    int m_percent = -1;
    RunScope* m_outer;
};

inline void RunCheckpoint(int64_t done, int64_t total) {
    if (RunScope* scope = RunScope::Current()) scope->Checkpoint(done, total);
}
