// The window's tests run offscreen, with one application object for all of them.
#include <cstdlib>

#include <QApplication>
#include <gtest/gtest.h>

#include "gui/TerminationSignals.h"

int main(int argc, char** argv) {
    // As the program does, so that a test can signal the process.
    kestrix::gui::BlockTerminationSignals();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
