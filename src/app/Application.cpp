#include "app/Application.h"

#include "app/AppController.h"
#include "app/MyApplication.h"
#include "os/Bundle.h"
#include "os/Log.h"
#include "os/TerminationSignals.h"
#include "platform/CrashReporter.h"
#include "settings/Defaults.h"

#include <QIcon>

namespace orvix {

int applicationMain(int argc, char** argv, const std::function<void(AppController&)>& afterLaunch) {
    MyApplication app(argc, argv);
    app.setApplicationName(Bundle::name());
    app.setApplicationVersion(Bundle::shortVersion());
    app.setDesktopFileName(Bundle::identifier());
    app.setQuitOnLastWindowClosed(false);
    Log::installQtMessageHandler();
    CrashReporter::install();

    const QString iconPath =
        Bundle::mainBundle().pathForResource(QStringLiteral("orvix"), QStringLiteral("svg"));
    if (!iconPath.isEmpty())
        app.setWindowIcon(QIcon(iconPath));

    // SIGTERM, SIGINT and SIGHUP end the program through the normal quit, so
    // everything that runs at termination runs.
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app,
                     &MyApplication::terminate);

    Defaults& defaults = Defaults::standardUserDefaults();
    AppController::initialize(defaults);
    AppController controller(defaults);
    controller.awakeFromNib();
    controller.applicationDidFinishLaunching();
    if (afterLaunch)
        afterLaunch(controller);

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &controller,
                     &AppController::applicationWillTerminate);
    // A quit asked for during the launch (a second copy, an alert's "Quit")
    // may have been dropped by an alert's own event loop: end here instead.
    if (MyApplication::terminationRequested()) {
        controller.applicationWillTerminate();
        return 0;
    }
    return app.exec();
}

} // namespace orvix
