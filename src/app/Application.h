#pragma once

#include <functional>

namespace orvix {

class AppController;

// Runs the program: the application object, the controller's start-up and the
// event loop. `afterLaunch`, when given, runs once the launch is done; test
// programs use it to drive a real running instance.
int applicationMain(int argc, char** argv,
                    const std::function<void(AppController&)>& afterLaunch = {});

} // namespace orvix
