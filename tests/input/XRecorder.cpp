#include "XRecorder.h"

#include <QElapsedTimer>

namespace orvix::test {

namespace {
bool isEvent(const QString& line) {
    return line.startsWith(QStringLiteral("press ")) || line.startsWith(QStringLiteral("release "));
}
} // namespace

XRecorder::XRecorder(XSession& session, const QStringList& arguments) {
    _process = session.start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/xrecorder"), arguments);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && !_ready) {
        _process->waitForReadyRead(100);
        readAvailable();
        for (const QString& line : _lines)
            if (line.startsWith(QStringLiteral("ready ")))
                _ready = true;
    }
    _lines.clear();
}

void XRecorder::readAvailable() {
    _partial += _process->readAllStandardOutput();
    int newline;
    while ((newline = _partial.indexOf('\n')) >= 0) {
        _lines << QString::fromUtf8(_partial.left(newline));
        _partial.remove(0, newline + 1);
    }
}

QStringList XRecorder::waitForEvents(int count, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    auto events = [this] {
        QStringList out;
        for (const QString& line : _lines)
            if (isEvent(line))
                out << line;
        return out;
    };
    while (timer.elapsed() < timeoutMs && events().size() < count) {
        _process->waitForReadyRead(50);
        readAvailable();
    }
    // Anything more than expected shows up in the answer and fails the test.
    _process->waitForReadyRead(150);
    readAvailable();
    return events();
}

void XRecorder::clear() {
    // Drain until the client has been quiet for a while, so events of an
    // earlier step cannot show up in the next one.
    while (_process->waitForReadyRead(150))
        readAvailable();
    readAvailable();
    _lines.clear();
}

} // namespace orvix::test
