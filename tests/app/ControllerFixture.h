#pragma once

// A controller launched in-process with private settings and user folders,
// no input backend and full input access; shared by the controller tests.
#include "app/AppController.h"
#include "os/input/InputBackend.h"
#include "settings/Defaults.h"
#include "settings/Settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace orvix::test {

class ControllerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
        // The platform services look into the user's folders: keep them private.
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            saved.append({name, qgetenv(name)});
            qputenv(name, (dir.path() + QStringLiteral("/") + QString::fromLatin1(name)).toUtf8());
        }
        defaults = std::make_unique<Defaults>(dir.path() + QStringLiteral("/Orvix.conf"));
        // No update check goes out from a unit test.
        defaults->setBool(false, settings::kCheckForUpdates);
    }
    void TearDown() override {
        controller.reset();
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        for (const auto& [name, value] : saved)
            qputenv(name, value);
    }
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
    void launch() {
        AppController::initialize(*defaults);
        controller = std::make_unique<AppController>(*defaults, environment());
        controller->awakeFromNib();
        controller->applicationDidFinishLaunching();
    }
    static bool waitForOpacity(QWidget* w, double value) {
        return QTest::qWaitFor([&] { return qAbs(w->windowOpacity() - value) < 0.01; }, 3000);
    }

    QTemporaryDir dir;
    QByteArray savedRuntime;
    QList<std::pair<const char*, QByteArray>> saved;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<AppController> controller;
};

} // namespace orvix::test
