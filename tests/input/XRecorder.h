#pragma once

#include "SharedXSessionTest.h"
#include "XSession.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

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

// A shared bare session with the recording client running in it for the whole
// suite; every test starts with nothing recorded.
class RecordedXSessionTest : public SharedXSessionTest {
protected:
    static void SetUpTestSuite() {
        startSession();
        if (session->isRunning())
            recorder = std::make_unique<XRecorder>(*session);
    }
    static void TearDownTestSuite() {
        recorder.reset();
        endSession();
    }

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SharedXSessionTest::SetUp());
        ASSERT_TRUE(recorder && recorder->isReady());
        recorder->clear();
    }

    static inline std::unique_ptr<XRecorder> recorder;
};

} // namespace orvix::test
