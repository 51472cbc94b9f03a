# bench_render: a rendered capture of a fixture page (the installed chromium) against a
# static grab of the same page.
add_executable(bench_render ${CMAKE_CURRENT_SOURCE_DIR}/bench_render.cpp)
target_link_libraries(bench_render PRIVATE packager_render packager_fetch packager_rewrite platform)
target_include_directories(bench_render PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_render PRIVATE QB_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
