#pragma once

// A controller launched in-process with private settings and user folders,
// no input backend and full input access; shared by the controller tests.
#include "TempHome.h"
#include "app/AppController.h"
#include "os/input/InputBackend.h"
#include "settings/Defaults.h"
#include "settings/Settings.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace orvix::test {

class ControllerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        defaults = std::make_unique<Defaults>(home.file(QStringLiteral("Orvix.conf")));
        // No update check goes out from a unit test.
        defaults->setBool(false, settings::kCheckForUpdates);
    }
    void TearDown() override { controller.reset(); }
    static AppController::Environment environment() {
        AppController::Environment env;
        env.makeBackend = [] {
            return std::unique_ptr<input::InputBackend>();
        };
        env.accessProbe = [] {
            return InputAccessLack::Nothing;
        };
        // The offscreen platform has no tray; these tests act as if it had.
        env.trayAvailable = [] {
            return true;
        };
        return env;
    }
    // Made and woken, not yet launched.
    void create(const AppController::Environment& env = environment()) {
        AppController::initialize(*defaults);
        controller = std::make_unique<AppController>(*defaults, env);
        controller->awakeFromNib();
    }
    void launch(const AppController::Environment& env = environment()) {
        create(env);
        controller->applicationDidFinishLaunching();
    }
    static bool waitForOpacity(QWidget* w, double value) {
        return QTest::qWaitFor([&] { return qAbs(w->windowOpacity() - value) < 0.01; }, 3000);
    }

    // The platform services look into the user's folders: keep them private.
    TempHome home{true};
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<AppController> controller;
};

} // namespace orvix::test
