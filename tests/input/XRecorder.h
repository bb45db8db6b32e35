#pragma once

#include "XSession.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace orvix::test {

// Runs the xrecorder client in an X session and reads what it prints.
class XRecorder {
public:
    explicit XRecorder(XSession& session, const QStringList& arguments = {});

    bool isReady() const { return _ready; }
    // Waits until at least `count` event lines (press/release) arrived, and
    // then a little longer for stragglers; answers all event lines so far.
    QStringList waitForEvents(int count, int timeoutMs = 5000);
    // Lines seen so far without waiting, events and focus changes alike.
    QStringList allLines();
    void clear();

private:
    void readAvailable();

    QProcess* _process;
    QStringList _lines;
    QByteArray _partial;
    bool _ready = false;
};

} // namespace orvix::test
