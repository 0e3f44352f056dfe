// The GUI tests run on Qt's offscreen platform with a settings directory of their own.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

#include "gui/shell/qel_app.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    CQelApp app(argc, argv);
    return RUN_ALL_TESTS();
}
