// The main() of test executables that need a Qt event loop but no display:
// a QCoreApplication lives for the whole run, then GoogleTest runs every test.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
