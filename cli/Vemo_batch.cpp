// Vemo_batch: child processes, the pipe protocol and the ordered printing.
#include "cli/Vemo_batch.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/Vemo_texts.h"

namespace {

// A text travels from child to parent as one frame: the stream it belongs
// to, its length (4 bytes, little-endian) and its bytes. Lengths rather
// than line ends, because a file name may hold a line feed.
constexpr char kToOutput = 'o';
constexpr char kToError = 'e';
// The child's last frame: its result, one byte '0' (traced) or '1'. A child
// that ends without it (a plug-in calling exit or _exit) has not traced
// its image, whatever its exit status says.
constexpr char kResult = 'r';
constexpr std::size_t kFrameHead = 5;
// Redraw the progress line at least this often while images run.
constexpr int kProgressTickMilliseconds = 1000;

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // the reader is gone; nobody is left to tell
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void WriteAll(int fd, const std::string& text) { WriteAll(fd, text.data(), text.size()); }

std::string Frame(char stream, const std::string& text) {
    std::string frame(kFrameHead, '\0');
    frame[0] = stream;
    const auto length = static_cast<uint32_t>(text.size());
    for (int i = 0; i < 4; ++i) frame[1 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return frame + text;
}

// Calls `use(stream, text)` for each whole frame of `frames`. A frame cut
// short (a child killed while writing) is dropped.
template <typename Use>
void ForEachFrame(const std::string& frames, const Use& use) {
    std::size_t at = 0;
    while (frames.size() - at >= kFrameHead) {
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(frames[at + 1 + i])) << (8 * i);
        if (frames.size() - at - kFrameHead < length) break;
        use(frames[at], frames.substr(at + kFrameHead, length));
        at += kFrameHead + length;
    }
}

// Prints each text as one line on its stream.
void PrintFrames(const std::string& frames) {
    ForEachFrame(frames, [](char stream, const std::string& text) {
        if (stream == kResult) return;
        WriteAll(stream == kToOutput ? STDOUT_FILENO : STDERR_FILENO, text + "\n");
    });
}

// The result the child reported: 0, 1, or -1 when it reported none.
int ReportedResult(const std::string& frames) {
    int result = -1;
    ForEachFrame(frames, [&result](char stream, const std::string& text) {
        if (stream == kResult) result = text == "0" ? 0 : 1;
    });
    return result;
}

std::string Clock(double seconds) {
    const auto whole = static_cast<long long>(std::max(seconds, 0.0) + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

std::string SignalName(int signal) {
    const char* name = ::strsignal(signal);
    return "signal " + std::to_string(signal) + (name != nullptr ? std::string(" (") + name + ")" : std::string());
}

}  // namespace

int ProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return static_cast<int>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
}

TVemo_batch::TVemo_batch(std::vector<std::string> images, int jobs, bool showProgress)
    : m_images(std::move(images)),
      m_jobs(std::max(1, jobs)),
      m_showProgress(showProgress),
      m_slots(m_images.size()) {}

std::size_t TVemo_batch::Run(const TraceOne& traceOne) {
    m_start = std::chrono::steady_clock::now();
    // Standard output closed early (a pipe into head) must not end the
    // batch half way: the files are what matters, and the exit status.
    const auto previousPipeHandler = std::signal(SIGPIPE, SIG_IGN);
    std::size_t next = 0;
    DrawProgress();
    while (m_printed < m_images.size()) {
        while (next < m_images.size() && m_running < static_cast<std::size_t>(m_jobs)) {
            if (Start(next, traceOne)) {
                ++next;
                continue;
            }
            // No process to be had (a process or memory limit): wait for a
            // running one to end and try again, or fail this image.
            if (m_running > 0) break;
            Slot& slot = m_slots[next];
            slot.frames = Frame(kToError, texts::TraceNotStarted(m_images[next], std::strerror(errno))) +
                          Frame(kToError, texts::CannotProcess(m_images[next]));
            slot.finished = slot.failed = true;
            ++m_finished;
            ++m_failed;
            ++next;
        }
        if (m_running > 0) Collect(m_showProgress ? kProgressTickMilliseconds : -1);
        PrintFinished();
        DrawProgress();
    }
    ClearProgress();
    std::signal(SIGPIPE, previousPipeHandler);
    return m_failed;
}

bool TVemo_batch::Start(std::size_t index, const TraceOne& traceOne) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    // Whatever the parent has buffered must not be written twice.
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        errno = error;
        return false;
    }
    if (pid == 0) {
        // The child: a killed batch takes its traces with it. SIGPIPE stays
        // ignored: a parent gone early sends SIGTERM, which cleans up.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::close(fds[0]);
        for (const Slot& other : m_slots) {
            if (other.pipe >= 0) ::close(other.pipe);
        }
        const int out = fds[1];
        const BatchSinks sinks{[out](const std::string& text) { WriteAll(out, Frame(kToError, text)); },
                               [out](const std::string& text) { WriteAll(out, Frame(kToOutput, text)); }};
        int status = 1;
        try {
            status = traceOne(index, sinks) == 0 ? 0 : 1;
        } catch (const std::exception& error) {
            sinks.error(texts::TraceAborted(m_images[index], error.what()));
            sinks.error(texts::CannotProcess(m_images[index]));
        } catch (...) {
            sinks.error(texts::CannotProcess(m_images[index]));
        }
        WriteAll(out, Frame(kResult, status == 0 ? "0" : "1"));
        // _exit: the parent's objects, copied into this process, are not the
        // child's to destroy, and its stdio buffers are not the child's to flush.
        ::_exit(status);
    }
    ::close(fds[1]);
    Slot& slot = m_slots[index];
    slot.pid = pid;
    slot.pipe = fds[0];
    ++m_running;
    return true;
}

// Reads what the running children have sent, waiting up to the timeout
// (-1: until one of them sends or ends). A child whose pipe is closed is
// reaped and its image is finished.
void TVemo_batch::Collect(int timeoutMilliseconds) {
    std::vector<pollfd> polls;
    std::vector<Slot*> owners;
    for (Slot& slot : m_slots) {
        if (slot.pipe < 0) continue;
        polls.push_back(pollfd{slot.pipe, POLLIN, 0});
        owners.push_back(&slot);
    }
    if (::poll(polls.data(), polls.size(), timeoutMilliseconds) <= 0) return;
    char buffer[1 << 14];
    for (std::size_t i = 0; i < polls.size(); ++i) {
        if (polls[i].revents == 0) continue;
        Slot& slot = *owners[i];
        const ssize_t got = ::read(slot.pipe, buffer, sizeof buffer);
        if (got > 0) {
            slot.frames.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            Finish(slot);
        }
    }
}

void TVemo_batch::Finish(Slot& slot) {
    ::close(slot.pipe);
    slot.pipe = -1;
    const std::size_t index = static_cast<std::size_t>(&slot - m_slots.data());
    int status = 0;
    pid_t reaped = -1;
    do {
        reaped = ::waitpid(slot.pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    const int reported = ReportedResult(slot.frames);
    if (reaped == slot.pid && WIFEXITED(status) && reported >= 0) {
        slot.failed = reported != 0 || WEXITSTATUS(status) != 0;
    } else if (reaped == slot.pid && WIFEXITED(status)) {
        slot.failed = true;
        slot.frames += Frame(kToError, texts::TraceAborted(m_images[index], texts::ReasonEndedWithoutResult(WEXITSTATUS(status))));
        slot.frames += Frame(kToError, texts::CannotProcess(m_images[index]));
    } else {
        // Killed (out of memory, a signal) or crashed: its texts may stop
        // anywhere, so the failure is said here.
        slot.failed = true;
        const std::string reason = reaped == slot.pid && WIFSIGNALED(status) ? SignalName(WTERMSIG(status))
                                                                             : std::string(std::strerror(errno));
        slot.frames += Frame(kToError, texts::TraceAborted(m_images[index], reason));
        slot.frames += Frame(kToError, texts::CannotProcess(m_images[index]));
    }
    slot.pid = -1;
    slot.finished = true;
    --m_running;
    ++m_finished;
    if (slot.failed) ++m_failed;
}

void TVemo_batch::PrintFinished() {
    bool cleared = false;
    while (m_printed < m_slots.size() && m_slots[m_printed].finished) {
        if (!cleared) {
            ClearProgress();
            cleared = true;
        }
        Slot& slot = m_slots[m_printed];
        PrintFrames(slot.frames);
        slot.frames = std::string();
        ++m_printed;
    }
}

void TVemo_batch::DrawProgress() {
    if (!m_showProgress) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    std::string line = "\r\033[K" + std::to_string(m_finished) + "/" + std::to_string(m_images.size()) +
                       " images, " + Clock(elapsed) + " elapsed";
    if (m_finished > 0 && m_finished < m_images.size()) {
        const double left = elapsed / static_cast<double>(m_finished) * static_cast<double>(m_images.size() - m_finished);
        line += ", about " + Clock(left) + " left";
    }
    // Children wake the parent for every text they send; the line is only
    // redrawn when it reads differently.
    if (m_progressShown && line == m_progressLine) return;
    WriteAll(STDERR_FILENO, line);
    m_progressLine = std::move(line);
    m_progressShown = true;
}

void TVemo_batch::ClearProgress() {
    if (!m_progressShown) return;
    WriteAll(STDERR_FILENO, std::string("\r\033[K"));
    m_progressShown = false;
}
