qb_fuzzer(rewrite SOURCE ${CMAKE_CURRENT_LIST_DIR}/rewrite.cpp LIBS packager_rewrite packager_fetch platform)
