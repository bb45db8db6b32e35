#include "os/SingleInstance.h"

#include "os/Log.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace orvix {
namespace {
const QByteArray kReopen = "reopen\n";
const QByteArray kAck = "ok\n";
// Only one short request exists; anything longer is not ours.
constexpr qsizetype kLongestRequest = 64;
// Connections listened to at once.
constexpr size_t kMostClients = 8;

bool socketAddress(const QString& path, sockaddr_un& address) {
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return true;
}

// Both ends must be this user: in a shared temporary folder anyone could
// listen at the endpoint's path or connect to it.
bool peerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::getuid();
}

// Held while a copy looks for another and starts listening. The kernel drops
// it when its holder dies, so a killed copy never leaves it behind, and
// taking it writes nothing to disk.
class ClaimLock {
public:
    explicit ClaimLock(const QString& path)
        : _fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                     0600)) {}
    ~ClaimLock() {
        if (_fd >= 0)
            ::close(_fd);
    }
    ClaimLock(const ClaimLock&) = delete;
    ClaimLock& operator=(const ClaimLock&) = delete;

    bool lock(std::chrono::milliseconds limit) {
        if (_fd < 0)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (::flock(_fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    int _fd;
};
} // namespace

SingleInstance::SingleInstance(const QString& identifier, QObject* parent)
    : QObject(parent), _endpoint(endpointFor(identifier)) {}

SingleInstance::~SingleInstance() {
    while (!_clients.empty())
        closeClient(_clients.begin()->first);
    if (_listener >= 0) {
        ::close(_listener);
        ::unlink(QFile::encodeName(_endpoint).constData());
    }
}

QString SingleInstance::endpointFor(const QString& identifier) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QLatin1Char('/') + identifier.toLower() + QStringLiteral(".instance");
}

SingleInstance::Outcome SingleInstance::claim() {
    // The lock makes "look for a copy, else listen" one step, so two copies
    // started together cannot both become the first.
    ClaimLock lock(_endpoint + QStringLiteral(".lock"));
    if (!lock.lock(std::chrono::seconds(3)))
        Log::write("Could not lock %s; looking for another copy without it",
                   qUtf8Printable(_endpoint));

    if (askOtherCopyToReopen())
        return Outcome::Duplicate;
    listen();
    return Outcome::Primary;
}

bool SingleInstance::askOtherCopyToReopen() {
    sockaddr_un address;
    if (!socketAddress(_endpoint, address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    // A full queue is a copy too busy to accept: it still counts as running.
    const bool busy = !connected && errno == EAGAIN;
    if (connected && !peerIsThisUser(fd)) {
        ::close(fd);
        return false;
    }
    if (connected) {
        ::send(fd, kReopen.constData(), size_t(kReopen.size()), MSG_NOSIGNAL);
        // A copy that is alive but not answering still counts as running; the
        // wait is bounded so this copy quits promptly either way.
        pollfd reply{fd, POLLIN, 0};
        if (::poll(&reply, 1, _replyTimeoutMs) > 0) {
            char ack[8];
            [[maybe_unused]] const ssize_t ignored = ::recv(fd, ack, sizeof ack, 0);
        }
    }
    ::close(fd);
    return connected || busy;
}

bool SingleInstance::listen() {
    const QByteArray path = QFile::encodeName(_endpoint);
    sockaddr_un address;
    int fd = -1;
    const char* failure = nullptr;
    if (!socketAddress(_endpoint, address)) {
        failure = "path too long";
    } else if ((fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) < 0) {
        failure = std::strerror(errno);
    } else {
        // Nobody answered: any socket file left is stale (a killed copy), so
        // take it over. The mode set on the socket is the new file's mode.
        ::unlink(path.constData());
        if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, 8) != 0)
            failure = std::strerror(errno);
    }
    if (failure) {
        if (fd >= 0)
            ::close(fd);
        Log::write("Could not listen for other copies at %s: %s", path.constData(), failure);
        return false;
    }
    _listener = fd;
    _listenNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(_listenNotifier, &QSocketNotifier::activated, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections() {
    for (;;) {
        const int fd = ::accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        if (!peerIsThisUser(fd)) {
            ::close(fd);
            continue;
        }
        // Copies that connect and never speak make way for newer ones.
        if (_clients.size() >= kMostClients) {
            auto oldest = std::min_element(
                _clients.begin(), _clients.end(),
                [](const auto& a, const auto& b) { return a.second.serial < b.second.serial; });
            closeClient(oldest->first);
        }
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { readRequest(fd); });
        _clients[fd] = Client{notifier, {}, ++_accepted};
    }
}

void SingleInstance::readRequest(int fd) {
    auto it = _clients.find(fd);
    if (it == _clients.end())
        return;
    Client& client = it->second;
    char bytes[kLongestRequest + 1];
    const ssize_t got = ::recv(fd, bytes, sizeof bytes, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0) {
        closeClient(fd);
        return;
    }
    client.request.append(bytes, got);
    if (client.request.size() > kLongestRequest) {
        closeClient(fd);
        return;
    }
    const qsizetype end = client.request.indexOf('\n');
    if (end < 0)
        return;
    const bool reopen = client.request.left(end + 1) == kReopen;
    if (reopen)
        ::send(fd, kAck.constData(), size_t(kAck.size()), MSG_NOSIGNAL);
    closeClient(fd);
    if (reopen)
        emit reopenRequested();
}

void SingleInstance::closeClient(int fd) {
    auto it = _clients.find(fd);
    if (it == _clients.end())
        return;
    // Deleted later: this may run inside the notifier's own signal.
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    ::close(fd);
    _clients.erase(it);
}

} // namespace orvix
