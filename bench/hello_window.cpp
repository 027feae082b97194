// A Qt hello-world window: what any Qt Widgets program costs to start and to keep on screen.
// The real program's idle CPU and its start-up time are measured against this. With --count,
// its text counts up once a second: what the least window that shows something new every
// second costs, the floor under any monitor that draws.

#include <QApplication>
#include <QLabel>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello, world"));
    label.setWindowTitle(QStringLiteral("Hello"));
    label.resize(320, 120);
    label.show();
    QTimer tick;
    int count = 0;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { label.setText(QStringLiteral("Hello, world %1").arg(++count)); });
    if (argc > 1 && QByteArray(argv[1]) == "--count")
        tick.start(1000);
    return QApplication::exec();
}
