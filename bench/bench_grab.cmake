# bench_grab: a page of 40 pictures (20 shown twice) behind 100 ms per request, grabbed by
# quillbox and by wget -p -k.
add_executable(bench_grab ${CMAKE_CURRENT_SOURCE_DIR}/bench_grab.cpp)
target_link_libraries(bench_grab PRIVATE packager_fetch packager_rewrite platform)
target_include_directories(bench_grab PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_grab PRIVATE QB_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
