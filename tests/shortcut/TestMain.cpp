// Runs the shortcut tests inside a Qt application on whatever platform the
// environment chooses (xcb in the test desktop, offscreen without one). GSettings
// sees only the tests' stand-in GNOME schemas, or with WISPEN_TEST_STOCK_SCHEMAS
// set the installed ones, their values kept in memory.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!getenv("WISPEN_TEST_STOCK_SCHEMAS")) {
        setenv("GSETTINGS_SCHEMA_DIR", WISPEN_TEST_SCHEMA_DIR, 1);
        setenv("XDG_DATA_DIRS", WISPEN_TEST_SCHEMA_DIR "/no-system-data", 1);
    }
    setenv("GSETTINGS_BACKEND", "memory", 1);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
