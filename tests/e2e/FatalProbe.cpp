#include "app/AppController.h"
#include "app/Application.h"

#include <thread>

int main(int argc, char** argv) {
    return orvix::applicationMain(argc, argv, [](orvix::AppController& controller) {
        std::thread([&controller] {
            controller._quitWithError(
                QStringLiteral("Failed to create event tap.  Contact support for help."));
        }).detach();
    });
}
