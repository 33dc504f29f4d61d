# The backup step: the picture's arithmetic without a window, and the whole step in a real
# 3D viewer with a project. The viewer test runs from a folder of its own so that the main frame
# it makes finds no plug-ins.
orv_add_gtest(test_backup HEADLESS SOURCES test_backup.cpp LIBS orv_ui_objects OpenGL::GLU)
set(ORV_BACKUP_APP_DIR "${CMAKE_BINARY_DIR}/tests/backup_app")
file(MAKE_DIRECTORY "${ORV_BACKUP_APP_DIR}/plugins")
orv_add_gtest(test_backup_viewer WIDGETS SOURCES test_backup_viewer.cpp LIBS orv_ui_objects OpenGL::GL)
set_target_properties(test_backup_viewer PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ORV_BACKUP_APP_DIR}")
