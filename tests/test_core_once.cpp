// The core plug-in and the host share one copy of the command code: the plug-in, loaded into a
// process that links the command library as the host does, resolves the commands to the very
// functions (and so the very statics) the host calls.
#include <CoreCommands.h>
#include <CoreUi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QString>
#include <string>

namespace {

const char* const kCorePlugin = ORV_BIN_DIR "/plugins/core.orvplugin";

// The dynamic symbol that holds the function at `address`, with the file it is in; empty when
// the function is not exported from any loaded library (a private copy).
struct ExportedSymbol {
    std::string name;
    std::string file;
};
ExportedSymbol exportedSymbolOf(void* address)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_sname || info.dli_saddr != address) return {};
    return {info.dli_sname, info.dli_fname ? info.dli_fname : ""};
}

class CoreLogicOnce : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo::exists(QString::fromUtf8(kCorePlugin))) << kCorePlugin;
        m_plugin = dlopen(kCorePlugin, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_plugin, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (m_plugin) dlclose(m_plugin);
    }
    // What the plug-in's own symbol lookup (itself, then the libraries it needs) gives for the
    // function the host calls at `hostAddress`.
    void expectSameFunction(void* hostAddress, const char* what)
    {
        const ExportedSymbol symbol = exportedSymbolOf(hostAddress);
        ASSERT_FALSE(symbol.name.empty()) << what << " is not exported: the host holds a private copy";
        EXPECT_TRUE(QFileInfo(QString::fromStdString(symbol.file))
                        .fileName()
                        .startsWith(QStringLiteral("liborv_core_logic.so")))
            << what << " lives in " << symbol.file;
        void* inPlugin = dlsym(m_plugin, symbol.name.c_str());
        ASSERT_NE(inPlugin, nullptr) << what << " is not reachable from the plug-in";
        EXPECT_EQ(inPlugin, hostAddress) << what << ": the plug-in has a copy of its own";
    }
    void* m_plugin = nullptr;
};

TEST_F(CoreLogicOnce, PluginAndHostRunTheSameCommandCode)
{
    // The entry the plug-in's runCommand and the host's context menus both call, and the state
    // they keep between commands (the frame refresh and the command table behind them).
    expectSameFunction(reinterpret_cast<void*>(&orvCore::runCoreCommand), "runCoreCommand");
    expectSameFunction(reinterpret_cast<void*>(&orvCore::isCoreCommand), "isCoreCommand");
    expectSameFunction(reinterpret_cast<void*>(&orvCore::refreshFrameState), "refreshFrameState");
    expectSameFunction(reinterpret_cast<void*>(&orvCore::warningBoxes), "warningBoxes");
}

}  // namespace
