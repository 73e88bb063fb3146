// Runs the shortcut tests inside a Qt application on whatever platform the
// environment chooses (xcb in the test desktop, offscreen without one). GSettings
// reads the installed schemas and keeps every value the tests set in memory.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
