#include "PasteTarget.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    // Follow the focus from the start, as the application does.
    PasteTarget::startWatchingFocus();
    return RUN_ALL_TESTS();
}
