#pragma once

#include "XSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

namespace orvix::test {

// One run of the real orvix program in an X session: its merged output kept
// whole, so a test can wait for a log line, and its panel window.
class OrvixRun {
public:
    explicit OrvixRun(XSession& session) : _x(session) {
        _process = _x.startOrvix();
        if (_process->waitForStarted(10000))
            _panel = _x.waitForWindowOfPid(_process->processId());
    }
    ~OrvixRun() {
        if (_process->state() != QProcess::NotRunning) {
            _process->kill();
            _process->waitForFinished(5000);
        }
    }
    OrvixRun(const OrvixRun&) = delete;
    OrvixRun& operator=(const OrvixRun&) = delete;

    QProcess* process() const { return _process; }
    // The panel's X window, empty when none came up.
    QString panel() const { return _panel; }

    const QByteArray& output() {
        _output += _process->readAll();
        return _output;
    }
    bool waitForOutput(const QByteArray& text, int timeoutMs = 20000) {
        return XSession::waitFor([&] { return output().contains(text); }, timeoutMs);
    }

    // The panel's pixels as the X server shows them.
    QImage grabPanel() const {
        const QString path = _x.home() + QStringLiteral("/panel-grab.png");
        QFile::remove(path);
        if (!_x.screenshot(path))
            return {};
        const XSession::Geometry g = _x.windowGeometry(_panel);
        return QImage(path).copy(g.x, g.y, g.width, g.height);
    }

private:
    XSession& _x;
    QProcess* _process = nullptr;
    QString _panel;
    QByteArray _output;
};

// A stand-in for a desktop program (xdg-open, pkexec, ...): a shell script in
// its own folder, put first on a search path.
inline QString writeScript(const QString& path, const QByteArray& body) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace orvix::test
