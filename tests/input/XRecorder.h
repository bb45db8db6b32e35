#pragma once

#include "SharedXSessionTest.h"
#include "XSession.h"
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace orvix::test {

// A backend on the test's server without the emergency release: the tests
// end it themselves.
inline std::unique_ptr<input::X11Backend> openX11Backend(const QString& display,
                                                         const QString& statePath) {
    input::X11Backend::Options options;
    options.displayName = display.toStdString();
    options.statePath = statePath.toStdString();
    options.emergencyRelease = false;
    return input::X11Backend::open(options);
}

// One marked key event, as the key input posts it.
inline void postKey(input::InputBackend& backend, int code, bool down, uint64_t flags) {
    input::InputEvent event;
    event.type = down ? input::EventType::KeyDown : input::EventType::KeyUp;
    event.keycode = code;
    event.flags = flags;
    event.userData = input::kMarkerValue;
    ASSERT_TRUE(backend.post(event));
}

// Runs the xrecorder client in an X session and reads what it prints.
class XRecorder {
public:
    explicit XRecorder(XSession& session, const QStringList& arguments = {});

    bool isReady() const { return _ready; }
    // Waits until at least `count` event lines (press/release) arrived, and
    // then a little longer for stragglers; answers all event lines so far.
    QStringList waitForEvents(int count, int timeoutMs = 5000);
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
