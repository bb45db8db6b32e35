#pragma once

#include "app/input/EventTapHandler.h"
#include "app/input/EventTapThread.h"
#include "app/input/KeyInput.h"
#include "app/input/KeyLighter.h"
#include "app/input/MainThreadHandOff.h"
#include "os/input/InputBackend.h"

#include <QObject>
#include <chrono>
#include <map>
#include <memory>
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
    void releaseAll() override {}
    // No real input to watch: the tap cannot be made.
    std::unique_ptr<input::EventTap> createEventTap(const input::EventTap::Options&) override {
        return nullptr;
    }
    bool stampsInFlight() const override { return true; }

    std::vector<input::InputEvent> events;
    bool failPosts = false;
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

// The application's wiring of a tap: key input, the main-thread hand-off, the
// callback logic and the tap thread; lights and sounds are recorded.
struct TapRig {
    using Sounds = std::vector<std::pair<int32_t, int32_t>>;

    // False when the tap did not listen in time (or could not be made).
    bool start(
        input::InputBackend& backend, bool stampKeys, bool stampMouse = false,
        EventTapThread::FailureHandler onFailure = [] {}) {
        input = std::make_unique<KeyInput>(backend, lighter, [this](int32_t code, int32_t state) {
            sounds.emplace_back(code, state);
        });
        handOff = std::make_unique<MainThreadHandOff>(&context, *input);
        handler = std::make_unique<EventTapHandler>(*input, *handOff, stampKeys, stampMouse);
        thread = std::make_unique<EventTapThread>(*handler);
        input::EventTap::Options options;
        options.stampKeys = stampKeys;
        options.stampMouse = stampMouse;
        thread->start(backend, options, std::move(onFailure));
        return thread->waitUntilListening(std::chrono::seconds(10));
    }

    // Declared in the order of making: the thread goes first.
    QObject context;
    FakeLighter lighter;
    Sounds sounds;
    std::unique_ptr<KeyInput> input;
    std::unique_ptr<MainThreadHandOff> handOff;
    std::unique_ptr<EventTapHandler> handler;
    std::unique_ptr<EventTapThread> thread;
};

} // namespace orvix::test
