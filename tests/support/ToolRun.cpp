#include "ToolRun.h"

#include <QFile>
#include <QProcess>

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

} // namespace orvix::test
