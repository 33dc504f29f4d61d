# The main-window test. It runs from a folder of its own whose plugins/ holds only its test
# plug-ins: build/bin/plugins has the host's core plug-in, which links the shared UI library,
# while this test links the library's objects directly.
set(ORV_MW_APP_DIR "${CMAKE_BINARY_DIR}/tests/mainwindow_app")
set(ORV_MW_PLUGIN_DIR "${ORV_MW_APP_DIR}/plugins")
set(ORV_MW_PLUGIN_SRC "${CMAKE_CURRENT_SOURCE_DIR}/mainwindow_plugins")

orv_add_gtest(test_mainwindow WIDGETS
    SOURCES test_mainwindow.cpp test_mainwindow_frame.cpp
    LIBS orv_ui_objects)
set_target_properties(test_mainwindow PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ORV_MW_APP_DIR}")
target_include_directories(test_mainwindow PRIVATE "${ORV_MW_PLUGIN_SRC}")
target_compile_definitions(test_mainwindow PRIVATE ORV_MW_PLUGIN_DIR="${ORV_MW_PLUGIN_DIR}")

# orv_mw_plugin(<target> <file name> <suffix> <source>): one file in the test's plugins/.
set(ORV_MW_PLUGIN_TARGETS "")
function(orv_mw_plugin target file suffix source)
  orv_add_plugin(${target} SOURCES "${ORV_MW_PLUGIN_SRC}/${source}" LIBS ZimBase64t
                 OUTPUT_DIR "${ORV_MW_PLUGIN_DIR}" NO_INSTALL)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${file}" SUFFIX "${suffix}")
  target_compile_definitions(${target} PRIVATE MW_PLUGIN_NAME="${file}")
  set(ORV_MW_PLUGIN_TARGETS ${ORV_MW_PLUGIN_TARGETS} ${target} PARENT_SCOPE)
endfunction()

# Loaded, in this order (names compared without case): alpha, Beta, gamma.
orv_mw_plugin(orv_mwplugin_alpha alpha .orvplugin mw_recording_plugin.cpp)
orv_mw_plugin(orv_mwplugin_beta  Beta  .ORVPLUGIN mw_recording_plugin.cpp)
orv_mw_plugin(orv_mwplugin_gamma gamma .orvplugin mw_recording_plugin.cpp)
# Working libraries whose complete suffix is not the plug-in suffix: never loaded.
orv_mw_plugin(orv_mwplugin_dotted a.b .orvplugin     mw_recording_plugin.cpp)
orv_mw_plugin(orv_mwplugin_bak    x   .orvplugin.bak mw_recording_plugin.cpp)
# A library without the entry symbols, and a file that is no library at all: refused.
orv_mw_plugin(orv_mwplugin_nosym  nosym .orvplugin mw_nosymbol_plugin.cpp)
file(WRITE "${ORV_MW_PLUGIN_DIR}/broken.orvplugin" "this is not a shared library\n")

add_dependencies(test_mainwindow ${ORV_MW_PLUGIN_TARGETS})
