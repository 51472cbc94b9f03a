# bench_cabinet: our cabinet writer against gcab -c -z and our reader against cabextract;
# the archive builder on incompressible pictures against 7zz and gcab.
add_executable(bench_cabinet ${CMAKE_CURRENT_SOURCE_DIR}/bench_cabinet.cpp)
target_link_libraries(bench_cabinet PRIVATE cabinet_reader cabinet_writer packager_output)
target_include_directories(bench_cabinet PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_cabinet PRIVATE QB_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
