#include <QApplication>
#include <gtest/gtest.h>

// Every test program gets a QApplication, so widgets, pixmaps, timers and
// queued calls work; the platform comes from QT_QPA_PLATFORM (offscreen by default).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
