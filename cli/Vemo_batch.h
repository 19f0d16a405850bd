// Vemo_batch: the images of one vemo-trace call, traced N at a time.
//
// Each image is traced in a child process of its own (fork, no exec), at
// most N at once, so memory stays bounded by N traces and nothing a trace
// touches - the settings, the plug-ins with their own global state, the
// loaded bitmap - is shared between two traces. A child that crashes or is
// killed (memory running out) fails its image only; the batch goes on.
//
// A child sends its texts to the parent through a pipe; the parent holds
// them back and prints each image's texts together, images in the order
// of the arguments, as soon as every earlier image has been printed. So
// the texts of two images never interleave and the completion lines keep
// the argument order, whatever order the traces finish in.
//
// On a terminal the parent also keeps one progress line at the bottom of
// standard error: images done of total, time elapsed, time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Where one image's texts go; both keep the order they were written in.
struct BatchSinks {
    std::function<void(const std::string&)> error;   // standard error: stage texts, failures
    std::function<void(const std::string&)> output;  // standard output: the completion message
};

// The number of processors this process may run on (at least 1).
int ProcessorCount();

class TVemo_batch {
public:
    // Traces image `index` and returns 0 on success, 1 on failure. Runs in
    // the child, which hands the result to the parent before it exits; a
    // child that ends without doing so (exit() inside a plug-in) fails its
    // image, whatever its exit status.
    using TraceOne = std::function<int(std::size_t index, const BatchSinks& sinks)>;

    TVemo_batch(std::vector<std::string> images, int jobs, bool showProgress);
    TVemo_batch(const TVemo_batch&) = delete;
    TVemo_batch& operator=(const TVemo_batch&) = delete;

    // Traces every image; returns the number of images that failed.
    std::size_t Run(const TraceOne& traceOne);

private:
    // One image: its child while it runs, then its texts until printed.
    struct Slot {
        int pid = -1;
        int pipe = -1;        // read end; -1 once the child has closed it
        std::string frames;   // the child's texts as it sent them
        bool finished = false;
        bool failed = false;
    };

    bool Start(std::size_t index, const TraceOne& traceOne);
    void Collect(int timeoutMilliseconds);
    void Finish(Slot& slot);
    void PrintFinished();
    void DrawProgress();
    void ClearProgress();

    std::vector<std::string> m_images;
    int m_jobs;
    bool m_showProgress;
    std::vector<Slot> m_slots;
    std::size_t m_running = 0;
    std::size_t m_finished = 0;
    std::size_t m_printed = 0;
    std::size_t m_failed = 0;
    bool m_progressShown = false;
    std::string m_progressLine;
    std::chrono::steady_clock::time_point m_start;
};
