#pragma once

#include "OrvixSessionTest.h"
#include "TapPanelPixels.h"

#include <QRect>
#include <memory>

namespace orvix::test {

// The real program's panel: its keys found from the layout, clicked and
// hovered with xdotool, read from the server's pixels; and the server's
// keyboard state as another client sees it.
class PanelTest : public OrvixSessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(OrvixSessionTest::SetUp());
        probe = std::make_unique<XProbe>(x.display());
        ASSERT_TRUE(probe->isOpen());
    }

    // Starts Orvix, waits for its panel, and keeps the unlit pixels of `keys`.
    bool launch(std::initializer_list<int> keys = {}) {
        if (OrvixSessionTest::launch().isEmpty())
            return false;
        pixels = std::make_unique<TapPanelPixels>(x.display(), panel.toULong());
        if (!pixels->isOpen())
            return false;
        for (int code : keys)
            if (!pixels->rememberUnlitOnceSettled(code, XSession::timeLimit(10000)))
                return false;
        return true;
    }

    // An on-screen key in root coordinates.
    QRect keyRect(int code) const {
        const auto rect = pixels->keyRect(code);
        const auto g = x.windowGeometry(panel);
        if (!rect)
            ADD_FAILURE() << "no key with code " << code << " in the layout";
        return rect ? rect->translated(g.x, g.y) : QRect();
    }
    QPoint keyCentre(int code) const { return keyRect(code).center(); }
    void clickKey(int code) const {
        const QPoint c = keyCentre(code);
        x.click(c.x(), c.y());
    }
    void clickKeys(std::initializer_list<int> codes) const {
        for (int code : codes)
            clickKey(code);
    }
    void moveTo(QPoint p) const {
        xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    }
    // Over the middle of the panel.
    void hoverPanel() const {
        const auto g = x.windowGeometry(panel);
        moveTo({g.x + g.width / 2, g.y + g.height / 2});
    }

    // The mouse button held down over a key, as a user's press.
    void pressMouseOn(int code) const {
        moveTo(keyCentre(code));
        pause(150);
        xdotool({"mousedown", "1"});
    }
    // A real press and release of `key` light `code` and then darken it.
    void expectRealKeyLights(const char* key, int code) const {
        xdotool({"keydown", key});
        EXPECT_TRUE(waitLit(code)) << key << " did not light its key";
        xdotool({"keyup", key});
        EXPECT_TRUE(waitUnlit(code)) << key << " left its key lit";
    }

    bool waitLit(int code, int timeoutMs = 5000) const {
        return XSession::waitFor([&] { return pixels->isLit(code); }, timeoutMs);
    }
    bool waitUnlit(int code, int timeoutMs = 5000) const {
        return XSession::waitFor([&] { return pixels->isUnlit(code); }, timeoutMs);
    }

    using KeyboardState = XProbe::State;
    KeyboardState keyboardState() const { return probe->state(); }
    bool nothingDownOrLocked() const {
        const KeyboardState s = keyboardState();
        return s.mods == 0 && s.locked == 0 && s.keysDown.isEmpty();
    }

    std::unique_ptr<XProbe> probe;
    std::unique_ptr<TapPanelPixels> pixels;
};

} // namespace orvix::test
