# bench_mszip: our MSZIP codec against zlib level 9 in the same block framing.
add_executable(bench_mszip ${CMAKE_CURRENT_SOURCE_DIR}/bench_mszip.cpp)
target_link_libraries(bench_mszip PRIVATE cabinet_mszip ZLIB::ZLIB)
target_include_directories(bench_mszip PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_mszip PRIVATE QB_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# The decompressor is measured once its code is in the tree.
if(EXISTS ${PROJECT_SOURCE_DIR}/cabinet/mszip/mszip_decompressor.cpp)
  target_compile_definitions(bench_mszip PRIVATE QB_HAVE_MSZIP_DECOMPRESSOR)
endif()
