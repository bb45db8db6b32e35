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
std::string letters(uint64_t flags) {
    std::string out;
    for (auto [bit, letter] : {std::pair{kFlagAlphaShift, 'L'},
                               {kFlagShift, 'S'},
                               {kFlagControl, 'C'},
                               {kFlagAlternate, 'A'},
                               {kFlagCommand, 'M'},
                               {kFlagSecondaryFn, 'F'}})
        if (flags & bit)
            out += letter;
    if (const uint64_t rest = flags & ~kModifierMask) {
        std::ostringstream hex;
        hex << std::hex << rest;
        out += hex.str();
    }
    return out;
}

class KeyInputTest : public ::testing::Test {
protected:
    KeyInputTest()
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

    FakeBackend backend;
    FakeLighter lighter;
    std::vector<std::pair<int32_t, int32_t>> sounds;
    KeyInput input;
};

TEST_F(KeyInputTest, ShiftLatchTypesCapitalAndReleasesOnSecondClick) {
    input.keyPressed(56); // first click latches: only the press reaches us
    EXPECT_EQ(lit(), "56 60");
    click(0);
    EXPECT_EQ(lit(), "56 60");
    input.keyReleased(56); // second click releases
    EXPECT_EQ(posts(), "56+S 0+S 0-S 56-");
    EXPECT_EQ(lit(), "");
    EXPECT_EQ(played(), "56+ 0+ 0- 56-");
    EXPECT_EQ(input.latchedFlags(), 0u);
    EXPECT_EQ(input.effectiveFlags(), 0u);
}

// Twins share one bit: a click on either lit one releases it.
TEST_F(KeyInputTest, TwinsShareTheirBit) {
    const struct {
        int32_t pressed, released;
        uint64_t bit;
    } twins[] = {{56, 60, kFlagShift}, {54, 55, kFlagCommand}, {61, 58, kFlagAlternate}};
    for (auto [pressed, released, bit] : twins) {
        input.keyPressed(pressed);
        EXPECT_EQ(input.effectiveFlags(), bit) << pressed;
        EXPECT_TRUE(lighter.isLit(released)) << pressed;
        input.keyReleased(released);
        EXPECT_EQ(posts(), std::to_string(pressed) + "+" + letters(bit) + " " +
                               std::to_string(released) + "-");
        EXPECT_EQ(lit(), "") << pressed;
    }
}

TEST_F(KeyInputTest, FunctionRemapsPressesOnlyAndNotPlainKeys) {
    input.keyPressed(63);
    EXPECT_EQ(lit(), "63");
    click(123);
    click(0);
    EXPECT_EQ(posts(), "63+F 115+F 123-F 0+F 0-F");
    // The sound is that of the clicked key, not of the key posted.
    EXPECT_EQ(played(), "63+ 123+ 123- 0+ 0-");
    input.keyReleased(63);
    posts();
    click(123);
    EXPECT_EQ(posts(), "123+ 123-");
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

TEST_F(KeyInputTest, RealFunctionKeyRemapsClicksToo) {
    realFlags(kFlagSecondaryFn | 0x100); // device-dependent bits ride along
    EXPECT_EQ(lit(), "63");
    click(36);
    EXPECT_EQ(posts(), "76+F100 36-F100");
    EXPECT_EQ(input.latchedFlags(), 0u);
}

TEST_F(KeyInputTest, HeldModifiersPlayCommandSoundsReleaseFirst) {
    realFlags(kFlagAlternate);
    EXPECT_EQ(lit(), "58 61");
    realFlags(0);
    EXPECT_EQ(lit(), "");
    EXPECT_EQ(played(), "55+ 55-");

    // One event that releases Shift and presses Control: both sounds, release first.
    realFlags(kFlagShift);
    played();
    realFlags(kFlagControl);
    EXPECT_EQ(played(), "55- 55+");

    // Bits outside the modifier mask play nothing but still count as held.
    realFlags(kFlagControl | 0x2);
    EXPECT_EQ(played(), "");
    EXPECT_EQ(input.effectiveFlags(), kFlagControl | 0x2);
}

TEST_F(KeyInputTest, ClickOnKeyLitOnlyByRealKeyPostsUpAndStaysLit) {
    realFlags(kFlagShift);
    // The control counts as latched: its click arrives as a release.
    input.keyReleased(56);
    EXPECT_EQ(posts(), "56-S");
    EXPECT_EQ(lit(), "56 60");
}

TEST_F(KeyInputTest, LatchedAndHeldCombine) {
    input.keyPressed(59); // Control latched
    realFlags(kFlagShift);
    EXPECT_EQ(input.effectiveFlags(), kFlagControl | kFlagShift);
    realFlags(0);
    EXPECT_EQ(input.effectiveFlags(), kFlagControl);
    EXPECT_EQ(lit(), "59");
    // A held key whose latch is released stays lit.
    realFlags(kFlagControl);
    input.keyReleased(59);
    EXPECT_EQ(lit(), "59");
    EXPECT_EQ(input.latchedFlags(), 0u);
}

TEST_F(KeyInputTest, CapsLockLatchesUntilClickedAgain) {
    input.keyPressed(57);
    click(0);
    click(1);
    EXPECT_EQ(input.effectiveFlags(), kFlagAlphaShift);
    EXPECT_EQ(lit(), "57");
    input.keyReleased(57);
    EXPECT_EQ(lit(), "");
    EXPECT_EQ(posts(), "57+L 0+L 0-L 1+L 1-L 57-");
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

TEST_F(KeyInputTest, EveryPostCarriesTheMarkerAndNoRepeat) {
    input.keyPressed(58);
    click(12);
    input.keyReleased(58);
    ASSERT_EQ(backend.events.size(), 4u);
    for (const auto& event : backend.events) {
        EXPECT_EQ(event.userData, kMarkerValue);
        EXPECT_EQ(event.autorepeat, 0);
    }
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

TEST_F(KeyInputTest, OddCodesPostAsSixteenBitAndLatchNothing) {
    input.keyPressed(-1);
    input.keyPressed(70000);
    EXPECT_EQ(posts(), "65535+ " + std::to_string(70000 & 0xFFFF) + "+");
    EXPECT_EQ(input.latchedFlags(), 0u);
    EXPECT_EQ(played(), "-1+ 70000+");
}

} // namespace
