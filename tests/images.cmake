# The image tree, its stored form, the thumbnail viewer and the mesh panel. The executable runs
# from a folder of its own so that the main frame it makes finds no plug-ins there.
set(ORV_IMG_APP_DIR "${CMAKE_BINARY_DIR}/tests/images_app")
file(MAKE_DIRECTORY "${ORV_IMG_APP_DIR}/plugins")
orv_add_gtest(test_images WIDGETS
    SOURCES test_images.cpp test_images_viewer.cpp test_meshpanel.cpp test_images_support.h
    LIBS orv_ui_objects orv_sample_core)
set_target_properties(test_images PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ORV_IMG_APP_DIR}")
