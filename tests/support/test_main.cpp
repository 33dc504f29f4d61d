// GoogleTest main for every test executable: a QGuiApplication gives QPainter its fonts, QImage
// its format plug-ins and the GL tests a platform that can make contexts (xcb under Xvfb).
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <memory>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QGuiApplication> app;
    if (!::testing::GTEST_FLAG(list_tests)) app = std::make_unique<QGuiApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
