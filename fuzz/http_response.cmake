qb_fuzzer(http_response SOURCE ${CMAKE_CURRENT_LIST_DIR}/http_response.cpp LIBS platform)
