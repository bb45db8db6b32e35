#pragma once

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QThread>

namespace orvix::test {

// A private X server for one test; extensions can be switched off.
class TestXvfb {
public:
    explicit TestXvfb(const QStringList& extraArgs = {}) {
        for (int attempt = 0; attempt < 20 && _display.isEmpty(); ++attempt) {
            const int number = 400 + QRandomGenerator::global()->bounded(500);
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            _process.start(QStringLiteral("Xvfb"),
                           QStringList{QStringLiteral(":%1").arg(number),
                                       QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                       QStringLiteral("-screen"), QStringLiteral("0"),
                                       QStringLiteral("640x480x24")} +
                               extraArgs);
            if (!_process.waitForStarted(5000))
                return;
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
            for (int i = 0; i < 100 && _process.state() == QProcess::Running; ++i) {
                if (QFile::exists(socket)) {
                    _display = QStringLiteral(":%1").arg(number);
                    break;
                }
                QThread::msleep(50);
            }
            if (_display.isEmpty())
                stop();
        }
    }
    ~TestXvfb() { stop(); }

    QString display() const { return _display; }
    void stop() {
        if (_process.state() != QProcess::NotRunning) {
            _process.terminate();
            _process.waitForFinished(5000);
        }
    }

private:
    QProcess _process;
    QString _display;
};

} // namespace orvix::test
