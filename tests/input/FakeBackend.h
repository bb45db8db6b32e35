#pragma once

#include "app/input/KeyLighter.h"
#include "os/input/InputBackend.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvix::test {

// Records what the input logic posts, in memory.
class FakeBackend : public input::InputBackend {
public:
    bool canPostAndWatch() const override { return true; }
    bool post(const input::InputEvent& event) override {
        if (failPosts)
            return false;
        events.push_back(event);
        return true;
    }
    void releaseAll() override { ++releaseAllCalls; }
    // No real input to watch: the tap cannot be made.
    std::unique_ptr<input::EventTap> createEventTap(const input::EventTap::Options&) override {
        return nullptr;
    }
    bool stampsInFlight() const override { return true; }

    std::vector<input::InputEvent> events;
    bool failPosts = false;
    int releaseAllCalls = 0;
};

// Records every state pushed to the on-screen keys, and the resulting states.
class FakeLighter : public KeyLighter {
public:
    void setKeyPressed(int code, bool pressed) override {
        calls.emplace_back(code, pressed ? "pressed" : "released");
        this->pressed[code] = pressed;
    }
    void setKeyToggles(int code, bool value) override {
        calls.emplace_back(code, value ? "toggles" : "plain");
        toggles[code] = value;
    }
    bool isLit(int code) const {
        auto it = pressed.find(code);
        return it != pressed.end() && it->second;
    }

    std::vector<std::pair<int, std::string>> calls;
    std::map<int, bool> pressed;
    std::map<int, bool> toggles;
};

} // namespace orvix::test
