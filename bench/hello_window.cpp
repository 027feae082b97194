// A Qt hello-world window: what any Qt Widgets program costs to start and to keep on screen.
// The real program's idle CPU and its start-up time are measured against this.

#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello, world"));
    label.setWindowTitle(QStringLiteral("Hello"));
    label.resize(320, 120);
    label.show();
    return QApplication::exec();
}
