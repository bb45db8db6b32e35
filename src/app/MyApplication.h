#pragma once

#include <QApplication>

namespace orvix {

// The application object. After each event it lifts a modal window to the
// keyboard panel's level, so alerts come up above the panel, never behind it.
class MyApplication : public QApplication {
    Q_OBJECT
public:
    MyApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Quits the program from any point, the launch included: a quit asked for
    // before the event loop runs (a nested alert's loop would drop it) is
    // remembered, and the program then ends instead of entering the loop.
    // Safe to call from any thread.
    static void terminate();
    static bool terminationRequested();

private:
    bool _lifting = false;
};

} // namespace orvix
