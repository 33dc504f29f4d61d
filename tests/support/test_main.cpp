// GoogleTest main for every test executable: a QGuiApplication gives QPainter its fonts, QImage
// its format plug-ins and the GL tests a platform that can make contexts (xcb under Xvfb). Tests
// of widgets are built with ORV_TEST_WIDGETS and get a QApplication instead.
#include <gtest/gtest.h>

#ifdef ORV_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

#include <memory>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<TestApplication> app;
    if (!::testing::GTEST_FLAG(list_tests)) app = std::make_unique<TestApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
