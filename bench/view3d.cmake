# A full 3D viewer redraw against the kernel's bare scene-item draw (run under xvfb-run).
orv_add_bench(bench_view3d SOURCES bench_view3d.cpp
              LIBS orv_ui_objects orv_sample_core orv_sample_project Qt5::Widgets)
