// Vemo_instance: the single-instance marker TVemo_instance.
//
// One program per user at a time. The running instance holds an exclusive
// flock on "VemohPrevInst-<uid>.lock" in the user's runtime folder and
// listens on the local socket "VemohPrevInst-<uid>" beside it. A later
// start finds the lock taken, asks the running instance over the socket to
// bring its window to the front, and ends. The kernel drops the lock of a
// process that dies, so a crash never blocks the next start; the socket
// file it leaves behind is replaced by the next instance.
//
// Runtime folder: $XDG_RUNTIME_DIR, or /tmp/vemo-<uid> (created with mode
// 0700, and used only when it is a real folder of this user's alone).
#pragma once

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

class TVemo_instance {
public:
    TVemo_instance();
    // Marker files in `runtimeFolder` instead (tests).
    explicit TVemo_instance(std::string runtimeFolder);
    ~TVemo_instance();
    TVemo_instance(const TVemo_instance&) = delete;
    TVemo_instance& operator=(const TVemo_instance&) = delete;

    // True when another instance runs; it has been asked to come to the
    // front. False when this process is now the running instance (or when
    // no marker can be made, so that the program still starts). Needs no
    // application object.
    bool FindPreviousInstance();

    // Answers later starts by calling `bringToFront`. Needs the
    // application object; call after FindPreviousInstance gave false.
    void Listen(std::function<void()> bringToFront);
    // Stops answering and removes the socket file; call while the
    // application object still exists.
    void StopListening();

    const std::string& SocketPath() const { return m_socketPath; }

private:
    void AskToComeToFront() const;

    std::string m_lockPath;
    std::string m_socketPath;
    int m_lockFile = -1;
    std::unique_ptr<QLocalServer> m_server;
};
