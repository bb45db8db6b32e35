#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace orvix::test {

// One finished run of a command-line program.
struct ToolRun {
    int exitCode = -1; // -1: did not finish in time, -2: crashed
    QString out, err;
};

// A program the build made (build/bin/NAME).
QString builtProgram(const QString& name);

// Runs `program` to completion, with the test's own environment unless one is given.
ToolRun runTool(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                int timeoutMs = 60000);

// Whole-file helpers: empty when unreadable; false when unwritable.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

// A socket at `path` (caller closes; -1 on failure): listening (a hung copy) or not (killed).
int bindUnixSocket(const QString& path, bool listen);

} // namespace orvix::test
