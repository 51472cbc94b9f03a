# bench_rewrite: the page pass over generated pages of 1 MB and 32 MB.
add_executable(bench_rewrite ${CMAKE_CURRENT_SOURCE_DIR}/bench_rewrite.cpp)
target_link_libraries(bench_rewrite PRIVATE packager_rewrite packager_fetch platform)
target_include_directories(bench_rewrite PRIVATE ${PROJECT_SOURCE_DIR})
