#include "app/input/KeyInput.h"

#include "FakeBackend.h"
#include "os/input/EventFlags.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace orvix;
using namespace orvix::input;
using orvix::test::FakeBackend;
using orvix::test::FakeLighter;

namespace {

// Flags by letter: L Caps Lock, S Shift, C Control, A Option, M Command,
// F Function; other bits in hex.
const std::pair<uint64_t, char> kLetters[] = {{kFlagAlphaShift, 'L'}, {kFlagShift, 'S'},
                                              {kFlagControl, 'C'},    {kFlagAlternate, 'A'},
                                              {kFlagCommand, 'M'},    {kFlagSecondaryFn, 'F'}};

std::string letters(uint64_t flags) {
    std::string out;
    for (auto [bit, letter] : kLetters)
        if (flags & bit)
            out += letter;
    if (const uint64_t rest = flags & ~kModifierMask) {
        std::ostringstream hex;
        hex << std::hex << rest;
        out += hex.str();
    }
    return out;
}

uint64_t flagsOf(std::string text) {
    uint64_t flags = 0;
    for (auto [bit, letter] : kLetters)
        if (!text.empty() && text.front() == letter) {
            flags |= bit;
            text.erase(0, 1);
        }
    return flags | (text.empty() ? 0 : std::stoull(text, nullptr, 16));
}

// Key input over recording fakes.
struct KeyRig {
    KeyRig()
        : input(backend, lighter,
                [this](int32_t code, int32_t state) { sounds.emplace_back(code, state); }) {}

    // What was posted since the last call: "56+S" is a press of 56 with
    // Shift, "56-" its release without flags.
    std::string posts() {
        std::string out;
        for (const auto& e : backend.events)
            out += (out.empty() ? "" : " ") + std::to_string(e.keycode) +
                   (e.type == EventType::KeyDown ? "+" : "-") + letters(e.flags);
        backend.events.clear();
        return out;
    }
    // The sounds played since the last call, in the same form.
    std::string played() {
        std::string out;
        for (auto [code, state] : sounds)
            out += (out.empty() ? "" : " ") + std::to_string(code) + (state ? "+" : "-");
        sounds.clear();
        return out;
    }
    // The lit keys, in order.
    std::string lit() const {
        std::string out;
        for (auto [code, on] : lighter.pressed)
            if (on)
                out += (out.empty() ? "" : " ") + std::to_string(code);
        return out;
    }
    void click(int32_t code) {
        input.keyPressed(code);
        input.keyReleased(code);
    }
    // A real flags-changed event, as the tap hands it over.
    void realFlags(uint64_t flags) {
        input.setHeldFlags(flags);
        input._updateHeldModifiers();
    }
    // "p56", "r56" and "c56" press, release and click key 56; "hS" hands over
    // real held flags (letters as above).
    void run(const std::string& steps) {
        std::istringstream in(steps);
        for (std::string step; in >> step;) {
            if (step[0] == 'h') {
                realFlags(flagsOf(step.substr(1)));
                continue;
            }
            const int32_t code = std::stoi(step.substr(1));
            if (step[0] != 'r')
                input.keyPressed(code);
            if (step[0] != 'p')
                input.keyReleased(code);
        }
    }

    FakeBackend backend;
    FakeLighter lighter;
    std::vector<std::pair<int32_t, int32_t>> sounds;
    KeyInput input;
};

class KeyInputTest : public ::testing::Test, public KeyRig {};

// Step sequences (KeyRig::run) from a fresh start; at the end, what was
// posted and played (where given), the lit keys, and the latched and the
// effective flags as "latched/effective".
TEST(KeyInputSequences, PostsSoundsLightsAndFlags) {
    const struct {
        const char *steps, *posts, *played, *lit, *flags;
    } rows[] = {
        // The first click on Shift latches it (only its press reaches us);
        // the second releases it.
        {"p56", "56+S", "56+", "56 60", "S/S"},
        {"p56 c0", "56+S 0+S 0-S", "56+ 0+ 0-", "56 60", "S/S"},
        {"p56 c0 r56", "56+S 0+S 0-S 56-", "56+ 0+ 0- 56-", "", "/"},
        // Twins share one bit: a click on either lit one releases it.
        {"p54", "54+M", nullptr, "54 55", "M/M"},
        {"p61", "61+A", nullptr, "58 61", "A/A"},
        {"p56 r60", "56+S 60-", nullptr, "", "/"},
        {"p54 r55", "54+M 55-", nullptr, "", "/"},
        {"p61 r58", "61+A 58-", nullptr, "", "/"},
        // Caps Lock latches until it is clicked again.
        {"p57 c0 c1", "57+L 0+L 0-L 1+L 1-L", nullptr, "57", "L/L"},
        {"p57 c0 c1 r57", "57+L 0+L 0-L 1+L 1-L 57-", nullptr, "", "/"},
        // Function remaps presses of its six keys only; the sound is that of
        // the key clicked, not of the key posted.
        {"p63 c123 c0", "63+F 115+F 123-F 0+F 0-F", "63+ 123+ 123- 0+ 0-", "63", "F/F"},
        // A real Function key remaps clicks too; device bits ride along.
        {"hF100", "", nullptr, "63", "/F100"},
        {"hF100 c36", "76+F100 36-F100", nullptr, "63", "/F100"},
        // A key lit only by a real one counts as latched: its click is a release.
        {"hS r56", "56-S", nullptr, "56 60", "/S"},
        // Real modifiers play Command's sounds; one event that releases Shift
        // and presses Control plays both, release first; bits outside the
        // modifier mask play nothing but still count as held.
        {"hA", "", "55+", "58 61", "/A"},
        {"hA h0", "", "55+ 55-", "", "/"},
        {"hS hC", "", "55+ 55- 55+", "59", "/C"},
        {"hS hC hC2", "", "55+ 55- 55+", "59", "/C2"},
        // Latched and held combine; a held key whose latch goes stays lit.
        {"p59 hS", nullptr, nullptr, "56 59 60", "C/SC"},
        {"p59 hS h0", nullptr, nullptr, "59", "C/C"},
        {"p59 hC r59", nullptr, nullptr, "59", "/C"},
        // Odd codes post as sixteen bits and latch nothing.
        {"p-1 p70000", "65535+ 4464+", "-1+ 70000+", "", "/"},
        // Function released leaves its keys plain.
        {"p63 r63 c123", "63+F 63- 123+ 123-", nullptr, "", "/"},
    };
    for (const auto& row : rows) {
        KeyRig rig;
        rig.run(row.steps);
        // Every post is marked as ours and none is a repeat.
        for (const auto& event : rig.backend.events)
            EXPECT_TRUE(event.userData == kMarkerValue && event.autorepeat == 0) << row.steps;
        if (row.posts) {
            EXPECT_EQ(rig.posts(), row.posts) << row.steps;
        }
        if (row.played) {
            EXPECT_EQ(rig.played(), row.played) << row.steps;
        }
        EXPECT_EQ(rig.lit(), row.lit) << row.steps;
        EXPECT_EQ(letters(rig.input.latchedFlags()) + "/" + letters(rig.input.effectiveFlags()),
                  row.flags)
            << row.steps;
    }
}

// Each remapped key: with Function its click posts the other key's press and
// its own release, and the other key, typed for real, lights it.
TEST_F(KeyInputTest, RemapTableBothWays) {
    const std::pair<int32_t, int32_t> table[] = {{36, 76},   {51, 117},  {123, 115},
                                                 {124, 119}, {125, 121}, {126, 116}};
    input.keyPressed(63);
    posts();
    for (auto [from, to] : table) {
        click(from);
        EXPECT_EQ(posts(), std::to_string(to) + "+F " + std::to_string(from) + "-F");
        EXPECT_EQ(KeyInput::reverseRemap(to), from);
    }
    for (int32_t code : {36, 0, -5}) // unmapped and bad codes stay themselves
        EXPECT_EQ(KeyInput::reverseRemap(code), code);

    input.keyReleased(63);
    posts();
    played();
    input._keyDown(115); // real Home
    EXPECT_EQ(lit(), "123");
    input._keyRelease(115);
    EXPECT_EQ(lit(), "");
    EXPECT_EQ(played(), "115+ 115-");
    EXPECT_EQ(posts(), "");
}

TEST_F(KeyInputTest, RightControlIsAPlainKey) {
    click(62);
    EXPECT_TRUE(lighter.calls.empty());
    EXPECT_EQ(input.effectiveFlags(), 0u);
    EXPECT_EQ(posts(), "62+ 62-");
}

TEST_F(KeyInputTest, ToggleMarkingAndBadKeyStates) {
    input.markToggleKeys();
    ASSERT_EQ(lighter.toggles.size(), 9u);
    for (auto [code, toggles] : lighter.toggles)
        EXPECT_TRUE(toggles) << code;
    // A state other than 1 or 2 releases.
    input.keyPressed(55);
    EXPECT_EQ(lit(), "54 55");
    input._setKeyCode(55, 7);
    EXPECT_EQ(lit(), "54");
}

TEST_F(KeyInputTest, FailedPostsChangeNoState) {
    backend.failPosts = true;
    input.keyPressed(56);
    EXPECT_EQ(input.latchedFlags(), kFlagShift);
    EXPECT_EQ(lit(), "56 60");
    input.keyReleased(56);
    EXPECT_EQ(input.latchedFlags(), 0u);
    EXPECT_EQ(played(), "56+ 56-");
}

} // namespace
