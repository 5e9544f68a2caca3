#include <gtest/gtest.h>

#include <QApplication>

// Widget tests run with one QApplication for the whole program.
int main(int argc, char** argv) {
    // Test discovery runs the program without the tests' environment; widget
    // tests never need a real display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
