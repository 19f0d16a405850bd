// Vemo_instance: the single-instance marker.
#include "app/Vemo_instance.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr const char* kMarkerName = "VemohPrevInst";
constexpr const char* kRequest = "front\n";
// How long a second start keeps trying to reach an instance that holds the
// lock but is still creating its window and has not begun to listen.
constexpr auto kConnectPatience = std::chrono::seconds(3);

// A folder that only this user can reach, so that nobody can plant the
// marker files or a link in their place.
bool IsPrivateFolder(const std::string& folder) {
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & 0077) == 0;
}

std::string RuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        if (IsPrivateFolder(runtime)) return runtime;
    }
    const std::string fallback = "/tmp/vemo-" + std::to_string(getuid());
    mkdir(fallback.c_str(), 0700);
    return IsPrivateFolder(fallback) ? fallback : std::string();
}

}  // namespace

TVemo_instance::TVemo_instance() : TVemo_instance(RuntimeFolder()) {}

TVemo_instance::TVemo_instance(std::string runtimeFolder) {
    if (runtimeFolder.empty()) return;
    const std::string base = runtimeFolder + "/" + kMarkerName + "-" + std::to_string(getuid());
    m_lockPath = base + ".lock";
    m_socketPath = base;
}

TVemo_instance::~TVemo_instance() {
    StopListening();
    if (m_lockFile >= 0) close(m_lockFile);
}

// The socket file goes while the lock still guards it.
void TVemo_instance::StopListening() { m_server.reset(); }

bool TVemo_instance::FindPreviousInstance() {
    if (m_lockPath.empty()) return false;
    m_lockFile = open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFile < 0) return false;
    if (flock(m_lockFile, LOCK_EX | LOCK_NB) == 0) return false;
    const bool busy = errno == EWOULDBLOCK;
    close(m_lockFile);
    m_lockFile = -1;
    if (busy) AskToComeToFront();
    return busy;
}

void TVemo_instance::AskToComeToFront() const {
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    const auto deadline = std::chrono::steady_clock::now() + kConnectPatience;
    while (true) {
        const int peer = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (peer < 0) return;
        if (connect(peer, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            const ssize_t ignored = send(peer, kRequest, std::strlen(kRequest), MSG_NOSIGNAL);
            (void)ignored;
            close(peer);
            return;
        }
        close(peer);
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void TVemo_instance::Listen(std::function<void()> bringToFront) {
    if (m_lockFile < 0 || m_socketPath.empty()) return;
    m_server = std::make_unique<QLocalServer>();
    // We hold the lock, so a socket file here is a crashed instance's.
    QLocalServer::removeServer(QString::fromStdString(m_socketPath));
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(QString::fromStdString(m_socketPath))) return;
    // Any connection is a later start asking for the window.
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(),
                     [server = m_server.get(), bringToFront = std::move(bringToFront)] {
                         while (QLocalSocket* peer = server->nextPendingConnection()) {
                             QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                             bringToFront();
                         }
                     });
}
