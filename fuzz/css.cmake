qb_fuzzer(css SOURCE ${CMAKE_CURRENT_LIST_DIR}/css.cpp LIBS packager_rewrite packager_fetch platform)
