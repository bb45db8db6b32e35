#pragma once

#include "SharedXSessionTest.h"
#include "XSession.h"
#include "os/input/EventFlags.h"
#include "os/input/X11Backend.h"

#include <QString>
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
