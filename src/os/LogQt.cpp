// Kept apart from Log.cpp so that small helpers can log without Qt.
#include "os/Log.h"

#include <QString>
#include <QtGlobal>

namespace orvix {

void Log::installQtMessageHandler() {
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtDebugMsg)
            return;
        Log::write("%s", qUtf8Printable(message));
    });
}

} // namespace orvix
