qb_fuzzer(cabinet_reader SOURCE ${CMAKE_CURRENT_LIST_DIR}/cabinet_reader.cpp LIBS cabinet_reader)
