// GoogleTest main for every test executable: a QGuiApplication gives QPainter its fonts, QImage
// its format plug-ins and the GL tests a platform that can make contexts (xcb under Xvfb; the
// offscreen platform when there is no display). Tests of widgets are built with ORV_TEST_WIDGETS
// and get a QApplication instead.
#include <gtest/gtest.h>

#ifdef ORV_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

#include <dlfcn.h>
#include <link.h>

#include <memory>

namespace {

// Keeps every loaded library mapped to the end of the process. Qt unloads the GL driver and its
// plug-ins when the application goes; a leak check at exit could then no longer name the library
// that made an allocation, and the suppressions of driver caches would not apply.
void pinLoadedLibraries()
{
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && info->dlpi_name[0]) dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Without a session bus address libdbus starts one itself: it forks from Qt's bus thread,
    // and a forked child of a multi-threaded, leak-checked process can hang for good on an
    // allocator lock another thread held at the fork. The tests need no bus; the programs they
    // start inherit the setting.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orv-tests-no-bus");
    // Without a display (a build machine without X, or a test run with DISPLAY cleared) the
    // program runs on Qt's offscreen platform: the tests that need no GL pass there, and the GL
    // ones fail on their own checks instead of the whole program aborting.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<TestApplication> app;
    if (!::testing::GTEST_FLAG(list_tests)) app = std::make_unique<TestApplication>(argc, argv);
    const int result = RUN_ALL_TESTS();
    pinLoadedLibraries();
    return result;
}
