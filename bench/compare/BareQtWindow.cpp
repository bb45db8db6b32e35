// The floor for any Qt 6 Widgets program: one window with a line of text,
// nothing else. Start-up and memory of a keyboard built on Qt are compared
// with this to see what the keyboard itself adds.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("A bare Qt 6 window"));
    label.setAlignment(Qt::AlignCenter);
    label.resize(640, 220);
    label.show();
    return app.exec();
}
