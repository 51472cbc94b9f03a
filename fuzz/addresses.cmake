qb_fuzzer(addresses SOURCE ${CMAKE_CURRENT_LIST_DIR}/addresses.cpp LIBS packager_fetch packager_rewrite platform)
