qb_fuzzer(mszip_decompressor SOURCE ${CMAKE_CURRENT_LIST_DIR}/mszip_decompressor.cpp LIBS cabinet_mszip)
