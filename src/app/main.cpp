#include "app/Application.h"
#include "os/DesktopSession.h"

int main(int argc, char** argv) {
    // Before the application object: it picks its platform when it is made.
    if (!orvix::DesktopSession::preparePlatform())
        return 1;
    return orvix::applicationMain(argc, argv);
}
