# The 3D view: its GL-free arithmetic, and the viewer on screen with a real project.
orv_add_gtest(test_view3d HEADLESS SOURCES test_view3d.cpp LIBS orv_ui_objects)
orv_add_gtest(test_view3d_viewer WIDGETS SOURCES test_view3d_viewer.cpp LIBS orv_ui_objects OpenGL::GL)
