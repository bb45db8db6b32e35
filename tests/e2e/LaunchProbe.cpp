// Runs the real application and, once launched, does one thing a test cannot
// reach from outside:
//   fatal        raises the fatal-error alert from another thread, as the
//                event tap does when it fails;
//   preferences  opens the preferences window and prints what it says about
//                the two latched-modifier settings, then quits.
#include "app/AppController.h"
#include "app/Application.h"
#include "app/MyApplication.h"
#include "menus/PreferencesWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    const bool preferences = argc > 1 && std::strcmp(argv[1], "preferences") == 0;
    return orvix::applicationMain(argc, argv, [preferences](orvix::AppController& controller) {
        if (preferences) {
            controller.showPreferences();
            orvix::PreferencesWindow* window = controller.preferencesWindow();
            std::printf("mouse-available=%d\nkeys-note=%s\nmouse-note=%s\n",
                        window->modifyMouseBox()->isEnabled() ? 1 : 0,
                        qPrintable(window->keysNote()->text()),
                        qPrintable(window->mouseNote()->text()));
            std::fflush(stdout);
            orvix::MyApplication::terminate();
            return;
        }
        std::thread([&controller] {
            controller._quitWithError(
                QStringLiteral("Failed to create event tap.  Contact support for help."));
        }).detach();
    });
}
