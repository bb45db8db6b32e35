#include "ToolRun.h"

#include <QFile>
#include <QProcess>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvix::test {

QString builtProgram(const QString& name) {
    return QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/") + name;
}

ToolRun runTool(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment, int timeoutMs) {
    QProcess p;
    p.setProcessEnvironment(environment);
    p.start(program, arguments);
    ToolRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

int bindUnixSocket(const QString& path, bool listen) {
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0 && (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                    (listen && ::listen(fd, 4) != 0))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace orvix::test
