# Filling the thumbnail grid from the image store's reduced level against decoding and scaling
# the photographs (run under xvfb-run).
orv_add_bench(bench_images SOURCES bench_images.cpp LIBS orv_ui_objects Qt5::Widgets)
