# Tests of the host application and its core plug-in: the logic without a window, and the built
# programs started as a user or a script would.
orv_add_gtest(test_orvhost HEADLESS SOURCES test_orvhost.cpp LIBS orv_core_logic orvhost_logic OrvKernel64t)
# Checks that every icon a menu entry names is beside the binaries.
add_dependencies(test_orvhost orvhost_icons)
target_compile_definitions(test_orvhost PRIVATE ORV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

orv_add_gtest(test_orvhost_app SOURCES test_orvhost_app.cpp LIBS OrvKernel64t)
add_dependencies(test_orvhost_app orvhost core orv-sample)

# The window with the real main frame and core plug-in: it runs from build/bin, so the frame
# loads bin/plugins/core.orvplugin as the host's would.
orv_add_gtest(test_orvhost_window WIDGETS SOURCES test_orvhost_window.cpp LIBS orvhost_window OrvKernel64t)
add_dependencies(test_orvhost_window core orv-sample)

# The marks of the current photo: the editor's undo steps, and the marks tool in the real views.
orv_add_gtest(test_marks_editor WIDGETS SOURCES test_marks_editor.cpp
              LIBS orvhost_window orv_core_logic OrvKernel64t)
add_dependencies(test_marks_editor core orv-sample)

# The Photo menu's mapping commands and the Marks panel in the host's window.
orv_add_gtest(test_photo_commands WIDGETS SOURCES test_photo_commands.cpp
              LIBS orvhost_window orv_core_logic OrvKernel64t)
add_dependencies(test_photo_commands core orv-sample)

# The camera record the host stores with a project.
orv_add_gtest(test_orvhost_camera HEADLESS SOURCES test_orvhost_camera.cpp LIBS orv_core_logic)

# The core plug-in and the host share one copy of the command library.
orv_add_gtest(test_core_once HEADLESS SOURCES test_core_once.cpp LIBS orv_core_logic ${CMAKE_DL_LIBS})
add_dependencies(test_core_once core)

# The project file against links, hand edits and killed runs of --create; it edits project
# files with SQLite directly and starts the built orvhost.
find_package(SQLite3 REQUIRED)
orv_add_gtest(test_project_robust SOURCES test_project_robust.cpp LIBS orvhost_logic OrvKernel64t SQLite::SQLite3)
add_dependencies(test_project_robust orvhost core)

# What the host writes (backup, screenshot, images) and its headless runs with damaged files.
orv_add_gtest(test_host_outputs SOURCES test_host_outputs.cpp LIBS orv_core_logic OrvKernel64t ZimGeometry64t)
add_dependencies(test_host_outputs orvhost core orv-sample)
