# The 2D view: the symbol, the placement arithmetic, the texture upload, the drawer and the viewer.
orv_add_gtest(test_symbol WIDGETS HEADLESS SOURCES test_symbol.cpp LIBS orv_ui_objects)
orv_add_gtest(test_imageview WIDGETS SOURCES test_imageview.cpp test_imageview_viewer.cpp
              LIBS orv_ui_objects OpenGL::GL)
# The photo view's marks painted with one painter.
orv_add_gtest(test_imageview_marks WIDGETS SOURCES test_imageview_marks.cpp LIBS orv_ui_objects)
