#include "os/SingleInstance.h"

#include "os/Log.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace orvix {
namespace {
const QByteArray kReopen = "reopen\n";
const QByteArray kAck = "ok\n";

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
    : QObject(parent), _endpoint(endpointFor(identifier)) {
    // Only the owner may talk to us: the socket sits in a private folder and
    // accepts the user alone.
    _server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
}

SingleInstance::~SingleInstance() {
    _server.close();
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

    // Nobody answered: any socket file left is stale (a killed copy), so take it over.
    QLocalServer::removeServer(_endpoint);
    if (!_server.listen(_endpoint))
        Log::write("Could not listen for other copies at %s: %s", qUtf8Printable(_endpoint),
                   qUtf8Printable(_server.errorString()));
    return Outcome::Primary;
}

bool SingleInstance::askOtherCopyToReopen() {
    QLocalSocket socket;
    socket.connectToServer(_endpoint);
    if (!socket.waitForConnected(_replyTimeoutMs))
        return false;
    socket.write(kReopen);
    socket.waitForBytesWritten(_replyTimeoutMs);
    // A copy that is alive but not answering still counts as running; the
    // wait is bounded so this copy quits promptly either way.
    socket.waitForReadyRead(_replyTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::acceptConnection() {
    while (QLocalSocket* socket = _server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only one short request exists; anything longer is not ours.
            if (socket->bytesAvailable() > 64) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QByteArray request = socket->readLine();
            if (request == kReopen) {
                socket->write(kAck);
                socket->flush();
                emit reopenRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace orvix
