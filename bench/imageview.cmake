# Painting a large photo in the 2D view against a pre-scaled blit (run under xvfb-run).
orv_add_bench(bench_imageview SOURCES bench_imageview.cpp LIBS orv_ui_objects Qt5::Widgets)
