#include "os/input/wayland/WaylandBackend.h"

#include "LogCapture.h"
#include "WaylandSession.h"
#include "XSession.h"
#include "os/input/EventFlags.h"

#include <QProcess>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/prctl.h>

using namespace orvix::input;
using orvix::test::KeyRecorder;
using orvix::test::LogCapture;
using orvix::test::WaylandSession;
using orvix::test::XSession;

namespace {

// Modifier masks of the standard keymaps, as a client reads them.
constexpr unsigned kShift = 0x01, kLock = 0x02, kControl = 0x04, kAlt = 0x08, kNum = 0x10,
                   kSuper = 0x40;

// One sway for the suite, one recording client in front; each test opens its
// own backends and closes them, leaving the seat without a keyboard.
class WaylandBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session = std::make_unique<WaylandSession>();
        if (session->isRunning()) {
            recorder = std::make_unique<KeyRecorder>(*session);
            recorder->waitForWindow();
        }
    }
    static void TearDownTestSuite() {
        recorder.reset();
        session.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(session->isRunning()) << session->error().toStdString();
        ASSERT_TRUE(recorder->waitForWindow()) << recorder->output().toStdString();
        // The previous test's keyboards are gone, and with them the focus.
        ASSERT_TRUE(recorder->waitUntil([] { return !recorder->focused(); }));
    }

    static std::unique_ptr<WaylandBackend> openBackend() {
        return WaylandBackend::open({session->socketPath().toStdString()});
    }
    static bool tap(WaylandBackend& backend, int code, uint64_t flags) {
        InputEvent event;
        event.keycode = code;
        event.flags = flags;
        event.type = EventType::KeyDown;
        const bool down = backend.post(event);
        event.type = EventType::KeyUp;
        return backend.post(event) && down;
    }

    static inline std::unique_ptr<WaylandSession> session;
    static inline std::unique_ptr<KeyRecorder> recorder;
};

TEST_F(WaylandBackendTest, KeysArriveWithTheModifiersOfTheirFlags) {
    struct Case {
        const char* name;
        int code;
        uint64_t flags;
        const char* sym;
        unsigned depressed;
        unsigned locked;
    };
    const Case cases[] = {
        {"plain", keycode::A, 0, "a", 0, kNum},
        {"latched Shift", keycode::A, kFlagShift, "A", kShift, kNum},
        {"modifier key alone posts nothing", keycode::Shift, kFlagShift, nullptr, 0, 0},
        {"Caps Lock", keycode::A, kFlagAlphaShift, "A", 0, kNum | kLock},
        {"Control Option Command", keycode::A, kFlagControl | kFlagAlternate | kFlagCommand, "a",
         kControl | kAlt | kSuper, kNum},
        {"Shift on a digit", 18, kFlagShift, "exclam", kShift, kNum},
        {"Function remap: Home", keycode::Home, 0, "Home", 0, kNum},
        {"Function remap: End", keycode::End, 0, "End", 0, kNum},
        {"Function remap: Page Up", keycode::PageUp, 0, "Prior", 0, kNum},
        {"Function remap: Page Down", keycode::PageDown, 0, "Next", 0, kNum},
        {"Function remap: keypad Enter", keycode::KeypadEnter, 0, "KP_Enter", 0, kNum},
        {"Function remap: forward Delete", keycode::ForwardDelete, 0, "Delete", 0, kNum},
        {"keypad digits type digits", 83, 0, "KP_1", 0, kNum},
    };
    auto backend = openBackend();
    ASSERT_NE(backend, nullptr);
    ASSERT_TRUE(recorder->waitForFocus()) << recorder->output().toStdString();
    const size_t before = recorder->waitForKeys(0).size();
    std::vector<const Case*> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(tap(*backend, c.code, c.flags));
        if (c.sym)
            expected.push_back(&c);
    }
    const auto keys = recorder->waitForKeys(before + expected.size());
    ASSERT_EQ(keys.size(), before + expected.size()) << recorder->output().toStdString();
    for (size_t i = 0; i < expected.size(); ++i) {
        const Case& c = *expected[i];
        const auto& key = keys[before + i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(key.sym.toStdString(), c.sym);
        EXPECT_EQ(key.depressed, c.depressed);
        EXPECT_EQ(key.locked, c.locked);
    }
    if (HasFailure())
        ADD_FAILURE() << recorder->output().toStdString();
    // Between clicks nothing of ours stays down.
    EXPECT_TRUE(recorder->waitUntil([] { return recorder->depressed() == 0; }));
    EXPECT_EQ(recorder->heldKeys(), 0);
}

TEST_F(WaylandBackendTest, ReleaseAllLetsGoOfHeldKeysAndModifiers) {
    auto backend = openBackend();
    ASSERT_NE(backend, nullptr);
    ASSERT_TRUE(recorder->waitForFocus());
    InputEvent down;
    down.keycode = keycode::A;
    down.flags = kFlagShift | kFlagControl;
    ASSERT_TRUE(backend->post(down));
    down.keycode = 11; // B
    ASSERT_TRUE(backend->post(down));
    ASSERT_TRUE(recorder->waitUntil([] { return recorder->heldKeys() == 2; }))
        << recorder->output().toStdString();
    EXPECT_EQ(recorder->depressed(), kShift | kControl);

    // A release naming another key (as before remapping) lets go of the newest.
    InputEvent up = down;
    up.type = EventType::KeyUp;
    up.keycode = keycode::Home;
    ASSERT_TRUE(backend->post(up));
    ASSERT_TRUE(recorder->waitUntil([] { return recorder->heldKeys() == 1; }));

    backend->releaseAll();
    EXPECT_TRUE(recorder->waitUntil([] {
        return recorder->heldKeys() == 0 && recorder->depressed() == 0;
    })) << recorder->output().toStdString();
    backend->releaseAll(); // again: harmless
}

// The keymap comes from the seat: a first keyboard with a German layout makes
// the positions of Y and Z swap for the backend opened after it.
TEST_F(WaylandBackendTest, UploadsTheKeymapTheSeatUses) {
    setenv("XKB_DEFAULT_LAYOUT", "de", 1);
    auto first = openBackend(); // no keyboard on the seat yet: the default names
    unsetenv("XKB_DEFAULT_LAYOUT");
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(recorder->waitForFocus());
    const size_t before = recorder->waitForKeys(0).size();
    ASSERT_TRUE(tap(*first, 16, 0)); // the key right of T
    ASSERT_EQ(recorder->waitForKeys(before + 1).size(), before + 1);
    auto second = openBackend();
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(tap(*second, 16, 0));
    ASSERT_TRUE(tap(*second, 6, 0)); // the key left of X
    const auto keys = recorder->waitForKeys(before + 3);
    ASSERT_EQ(keys.size(), before + 3) << recorder->output().toStdString();
    QStringList syms;
    for (size_t i = before; i < keys.size(); ++i)
        syms << keys[i].sym;
    EXPECT_EQ(syms, (QStringList{"z", "z", "y"}));
}

TEST_F(WaylandBackendTest, KilledPosterLeavesNothingDown) {
    // A keyboard that stays, as the user's real one would: the client keeps
    // its focus across the poster's death.
    auto keeper = openBackend();
    ASSERT_NE(keeper, nullptr);
    ASSERT_TRUE(recorder->waitForFocus());
    QProcess helper;
    helper.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    helper.start(QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/wayland_hold_helper"),
                 {session->socketPath()});
    ASSERT_TRUE(
        XSession::waitFor([&] { return helper.readAllStandardOutput().contains("holding"); }));
    ASSERT_TRUE(recorder->waitUntil([] { return recorder->depressed() == (kShift | kControl); }))
        << recorder->output().toStdString();
    helper.kill(); // SIGKILL: nothing of its own runs
    ASSERT_TRUE(helper.waitForFinished(5000));
    // Its key comes up: a key left down would repeat in the client.
    EXPECT_TRUE(recorder->waitUntil([] { return recorder->heldKeys() == 0; }))
        << recorder->output().toStdString();

    // The next key from another program arrives unmodified.
    const size_t before = recorder->waitForKeys(0).size();
    const QString said = session->run(QStringLiteral("wtype"), {QStringLiteral("x")});
    const auto keys = recorder->waitForKeys(before + 1);
    ASSERT_EQ(keys.size(), before + 1) << said.toStdString() << recorder->output().toStdString();
    EXPECT_EQ(keys[before].sym, QStringLiteral("x"));
    EXPECT_EQ(keys[before].depressed, 0u);
}

// Without the protocol (weston) or without a compositor the backend refuses,
// with one line saying why.
TEST(WaylandBackendRefusalTest, RefusesWithOneLogLine) {
    WaylandSession weston(WaylandSession::Compositor::Weston);
    ASSERT_TRUE(weston.isRunning()) << weston.error().toStdString();
    const struct {
        std::string display;
        const char* line;
    } cases[] = {
        {weston.socketPath().toStdString(), "offers no virtual keyboard"},
        {"/nonexistent/wayland-9", "Cannot connect to Wayland display /nonexistent/wayland-9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.display);
        LogCapture log;
        EXPECT_EQ(WaylandBackend::open({c.display}), nullptr);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_TRUE(log.contains(c.line)) << log.lines()[0];
    }
}

// A compositor that goes away under the backend: posts fail, said once, and
// nothing crashes on the way out.
TEST(WaylandBackendRefusalTest, CompositorGoneMakesPostsFail) {
    auto sway = std::make_unique<WaylandSession>();
    ASSERT_TRUE(sway->isRunning()) << sway->error().toStdString();
    auto backend = WaylandBackend::open({sway->socketPath().toStdString()});
    ASSERT_NE(backend, nullptr);
    sway.reset();
    LogCapture log;
    InputEvent event;
    event.keycode = keycode::A;
    bool failed = false;
    // The first writes may still land in the socket buffer.
    XSession::waitFor([&] { return failed = !backend->post(event); }, 10000);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(backend->post(event));
    backend->releaseAll();
    backend.reset();
    const auto lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("Wayland connection for posting keys failed") !=
                                       std::string::npos;
                            }),
              1)
        << ::testing::PrintToString(lines);
}

} // namespace
