#include <QCoreApplication>
#include <gmock/gmock.h>

// The engine's tests run without a window system: no QApplication, no Qt Gui or Widgets.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
