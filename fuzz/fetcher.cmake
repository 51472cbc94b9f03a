qb_fuzzer(fetcher SOURCE ${CMAKE_CURRENT_LIST_DIR}/fetcher.cpp LIBS packager_fetch packager_rewrite platform)
