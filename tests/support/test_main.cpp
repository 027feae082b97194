#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    // Discovery and plain runs have no test environment: stay headless unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
