#include <gtest/gtest.h>

#include <QApplication>

// Widget tests run with one QApplication for the whole program.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
