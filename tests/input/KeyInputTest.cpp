#include "app/input/KeyInput.h"

#include "FakeBackend.h"
#include "os/input/EventFlags.h"

#include <gtest/gtest.h>

using namespace orvix;
using namespace orvix::input;
using orvix::test::FakeBackend;
using orvix::test::FakeLighter;

namespace {

struct Posted {
    bool down;
    int64_t code;
    uint64_t flags;
    bool operator==(const Posted&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << (p.down ? "down " : "up ") << p.code << " flags 0x" << std::hex << p.flags
              << std::dec;
}

class KeyInputTest : public ::testing::Test {
protected:
    KeyInputTest()
        : input(backend, lighter,
                [this](int32_t code, int32_t state) { sounds.emplace_back(code, state); }) {}

    std::vector<Posted> posted() const {
        std::vector<Posted> out;
        for (const auto& e : backend.events)
            out.push_back({e.type == EventType::KeyDown, e.keycode, e.flags});
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
    EXPECT_TRUE(lighter.isLit(56));
    EXPECT_TRUE(lighter.isLit(60));
    click(0);
    EXPECT_TRUE(lighter.isLit(56));
    EXPECT_TRUE(lighter.isLit(60));
    input.keyReleased(56); // second click releases

    const std::vector<Posted> expected = {
        {true, 56, kFlagShift}, {true, 0, kFlagShift}, {false, 0, kFlagShift}, {false, 56, 0}};
    EXPECT_EQ(posted(), expected);
    EXPECT_FALSE(lighter.isLit(56));
    EXPECT_FALSE(lighter.isLit(60));
    const std::vector<std::pair<int32_t, int32_t>> expectedSounds = {
        {56, 1}, {0, 1}, {0, 0}, {56, 0}};
    EXPECT_EQ(sounds, expectedSounds);
    EXPECT_EQ(input.latchedFlags(), 0u);
    EXPECT_EQ(input.effectiveFlags(), 0u);
}

TEST_F(KeyInputTest, TwinReleasesTheSharedBit) {
    input.keyPressed(56);
    input.keyReleased(60); // a click on the lit Right Shift releases
    ASSERT_EQ(backend.events.size(), 2u);
    EXPECT_EQ(posted()[1], (Posted{false, 60, 0}));
    EXPECT_FALSE(lighter.isLit(56));
    EXPECT_FALSE(lighter.isLit(60));

    // Command and Right Command, Option and Right Option share likewise.
    input.keyPressed(54);
    EXPECT_EQ(input.effectiveFlags(), kFlagCommand);
    EXPECT_TRUE(lighter.isLit(55));
    input.keyPressed(61);
    EXPECT_EQ(input.effectiveFlags(), kFlagCommand | kFlagAlternate);
    EXPECT_TRUE(lighter.isLit(58));
    input.keyReleased(55);
    input.keyReleased(58);
    EXPECT_EQ(input.effectiveFlags(), 0u);
}

TEST_F(KeyInputTest, FunctionRemapsPressesOnlyAndNotPlainKeys) {
    input.keyPressed(63);
    EXPECT_EQ(posted().back(), (Posted{true, 63, kFlagSecondaryFn}));
    EXPECT_TRUE(lighter.isLit(63));

    click(123);
    click(0);
    const auto all = posted();
    const std::vector<Posted> tail(all.begin() + 1, all.end());
    const std::vector<Posted> expected = {{true, 115, kFlagSecondaryFn},
                                          {false, 123, kFlagSecondaryFn},
                                          {true, 0, kFlagSecondaryFn},
                                          {false, 0, kFlagSecondaryFn}};
    EXPECT_EQ(tail, expected);
    // The sound is that of the clicked key, not of the key posted.
    EXPECT_EQ(sounds[1], std::make_pair(123, 1));

    const std::pair<int32_t, int32_t> table[] = {{36, 76},   {51, 117},  {123, 115},
                                                 {124, 119}, {125, 121}, {126, 116}};
    for (auto [from, to] : table) {
        backend.events.clear();
        click(from);
        ASSERT_EQ(backend.events.size(), 2u);
        EXPECT_EQ(backend.events[0].keycode, to) << from;
        EXPECT_EQ(backend.events[1].keycode, from) << from;
    }

    input.keyReleased(63);
    backend.events.clear();
    click(123);
    EXPECT_EQ(posted()[0], (Posted{true, 123, 0}));
}

TEST_F(KeyInputTest, RealFunctionKeyRemapsClicksToo) {
    const uint64_t deviceBits = 0x100; // device-dependent bits ride along
    realFlags(kFlagSecondaryFn | deviceBits);
    EXPECT_TRUE(lighter.isLit(63));
    click(36);
    const std::vector<Posted> expected = {{true, 76, kFlagSecondaryFn | deviceBits},
                                          {false, 36, kFlagSecondaryFn | deviceBits}};
    EXPECT_EQ(posted(), expected);
    EXPECT_EQ(input.latchedFlags(), 0u);
}

TEST_F(KeyInputTest, RealKeysLightThroughReverseTable) {
    input._keyDown(115); // real Home
    EXPECT_TRUE(lighter.isLit(123));
    EXPECT_FALSE(lighter.pressed.count(115));
    input._keyRelease(115);
    EXPECT_FALSE(lighter.isLit(123));
    const std::vector<std::pair<int32_t, int32_t>> expectedSounds = {{115, 1}, {115, 0}};
    EXPECT_EQ(sounds, expectedSounds);
    EXPECT_TRUE(backend.events.empty());

    const std::pair<int32_t, int32_t> reverse[] = {{76, 36},  {115, 123}, {116, 126},
                                                   {117, 51}, {119, 124}, {121, 125},
                                                   {36, 36},  {0, 0},     {-5, -5}};
    for (auto [from, to] : reverse)
        EXPECT_EQ(KeyInput::reverseRemap(from), to);
}

TEST_F(KeyInputTest, HeldModifiersPlayCommandSoundsReleaseFirst) {
    realFlags(kFlagAlternate);
    EXPECT_TRUE(lighter.isLit(58));
    EXPECT_TRUE(lighter.isLit(61));
    realFlags(0);
    EXPECT_FALSE(lighter.isLit(58));
    std::vector<std::pair<int32_t, int32_t>> expected = {{55, 1}, {55, 0}};
    EXPECT_EQ(sounds, expected);

    // One event that releases Shift and presses Control: both sounds, release first.
    sounds.clear();
    realFlags(kFlagShift);
    sounds.clear();
    realFlags(kFlagControl);
    expected = {{55, 0}, {55, 1}};
    EXPECT_EQ(sounds, expected);

    // Bits outside the modifier mask play nothing but still count as held.
    sounds.clear();
    realFlags(kFlagControl | 0x2);
    EXPECT_TRUE(sounds.empty());
    EXPECT_EQ(input.effectiveFlags(), kFlagControl | 0x2);
}

TEST_F(KeyInputTest, ClickOnKeyLitOnlyByRealKeyPostsUpAndStaysLit) {
    realFlags(kFlagShift);
    ASSERT_TRUE(lighter.isLit(56));
    // The control counts as latched: its click arrives as a release.
    input.keyReleased(56);
    EXPECT_EQ(posted(), (std::vector<Posted>{{false, 56, kFlagShift}}));
    EXPECT_TRUE(lighter.isLit(56));
    EXPECT_TRUE(lighter.isLit(60));
}

TEST_F(KeyInputTest, LatchedAndHeldCombine) {
    input.keyPressed(59); // Control latched
    realFlags(kFlagShift);
    EXPECT_EQ(input.effectiveFlags(), kFlagControl | kFlagShift);
    realFlags(0);
    EXPECT_EQ(input.effectiveFlags(), kFlagControl);
    EXPECT_TRUE(lighter.isLit(59));
    EXPECT_FALSE(lighter.isLit(56));
    // A held key whose latch is released stays lit.
    realFlags(kFlagControl);
    input.keyReleased(59);
    EXPECT_TRUE(lighter.isLit(59));
    EXPECT_EQ(input.latchedFlags(), 0u);
}

TEST_F(KeyInputTest, CapsLockLatchesUntilClickedAgain) {
    input.keyPressed(57);
    click(0);
    click(1);
    EXPECT_EQ(input.effectiveFlags(), kFlagAlphaShift);
    EXPECT_TRUE(lighter.isLit(57));
    input.keyReleased(57);
    EXPECT_FALSE(lighter.isLit(57));
    const auto p = posted();
    ASSERT_EQ(p.size(), 6u);
    EXPECT_EQ(p[0], (Posted{true, 57, kFlagAlphaShift}));
    EXPECT_EQ(p[4].flags, kFlagAlphaShift);
    EXPECT_EQ(p[5], (Posted{false, 57, 0}));
}

TEST_F(KeyInputTest, RightControlIsAPlainKey) {
    input.keyPressed(62);
    input.keyReleased(62);
    EXPECT_TRUE(lighter.calls.empty());
    EXPECT_EQ(input.effectiveFlags(), 0u);
    EXPECT_EQ(posted(), (std::vector<Posted>{{true, 62, 0}, {false, 62, 0}}));
}

TEST_F(KeyInputTest, ModifierRelightOrderAndToggleMarking) {
    input.keyPressed(55);
    std::vector<int> order;
    for (const auto& [code, what] : lighter.calls)
        order.push_back(code);
    EXPECT_EQ(order, (std::vector<int>{63, 57, 56, 60, 59, 58, 61, 55, 54}));
    EXPECT_EQ(lighter.calls[7].second, "pressed");
    EXPECT_EQ(lighter.calls[0].second, "released");

    lighter.calls.clear();
    input.markToggleKeys();
    ASSERT_EQ(lighter.calls.size(), 9u);
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(lighter.calls[i].first, KeyInput::kToggleKeyCodes[i]);
        EXPECT_EQ(lighter.calls[i].second, "toggles");
    }
    // A state other than 1 or 2 releases.
    input._setKeyCode(55, 7);
    EXPECT_FALSE(lighter.isLit(55));
}

TEST_F(KeyInputTest, EveryPostCarriesTheMarkerAndStartsWithoutFlags) {
    click(0);
    EXPECT_EQ(backend.events[0].flags, 0u);
    input.keyPressed(58);
    click(12);
    input.keyReleased(58);
    for (const auto& event : backend.events) {
        EXPECT_EQ(event.userData, kMarkerValue);
        EXPECT_EQ(event.autorepeat, 0);
    }
}

TEST_F(KeyInputTest, FailedPostsChangeNoState) {
    backend.failPosts = true;
    input.keyPressed(56);
    EXPECT_EQ(input.latchedFlags(), kFlagShift);
    EXPECT_TRUE(lighter.isLit(56));
    input.keyReleased(56);
    EXPECT_EQ(input.latchedFlags(), 0u);
    EXPECT_EQ(sounds.size(), 2u);
}

TEST_F(KeyInputTest, OddCodesPostAsSixteenBitAndLatchNothing) {
    input.keyPressed(-1);
    input.keyPressed(70000);
    ASSERT_EQ(backend.events.size(), 2u);
    EXPECT_EQ(backend.events[0].keycode, 0xFFFF);
    EXPECT_EQ(backend.events[1].keycode, 70000 & 0xFFFF);
    EXPECT_EQ(input.latchedFlags(), 0u);
    EXPECT_EQ(sounds[0], std::make_pair(-1, 1));
}

} // namespace
