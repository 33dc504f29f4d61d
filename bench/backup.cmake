# The backup step on the sample project against one textured render plus one colour read-back
# of the same view (run under xvfb-run with a 1920x1200 screen).
orv_add_bench(bench_backup SOURCES bench_backup.cpp
              LIBS orv_ui_objects orv_sample_core orv_sample_project Qt5::Widgets OpenGL::GL)
