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

private:
    bool _lifting = false;
};

} // namespace orvix
