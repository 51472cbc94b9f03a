# Helpers shared by every folder's CMakeLists.txt.
#
# qb_library(<target> [DEPS <targets>...])
#   A static library from the .cpp files of the calling folder. Files with "win32"
#   as a part of their name (x_win32.cpp, x_win32_test.cpp) are built only for
#   Windows, those with "posix" only elsewhere.
#   Includes are relative to the repository root: "cabinet/format/...".
#
# qb_test(<name> [LIBS <targets>...] [NATIVE_ONLY] [WINDOWS_ONLY])
#   One GoogleTest executable test_<name> from tests/<name>/*.cpp (the calling
#   folder), registered as one CTest test. Under Wine every process start is
#   costly, so there is one test per executable, not one per case.

function(qb_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  set(kept)
  foreach(s IN LISTS srcs)
    get_filename_component(n ${s} NAME_WE)
    # "win32" / "posix" as a part of the name (dib_win32.cpp, dib_win32_test.cpp).
    if(n MATCHES "(^|_)win32(_|$)" AND NOT WIN32)
      continue()
    endif()
    if(n MATCHES "(^|_)posix(_|$)" AND WIN32)
      continue()
    endif()
    list(APPEND kept ${s})
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

function(qb_library target)
  cmake_parse_arguments(A "" "" "DEPS;SOURCES" ${ARGN})
  qb_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT srcs AND NOT A_SOURCES)
    # A folder whose code has not landed yet: headers only.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    if(A_DEPS)
      target_link_libraries(${target} INTERFACE ${A_DEPS})
    endif()
    return()
  endif()
  add_library(${target} STATIC ${srcs} ${A_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(A_DEPS)
    target_link_libraries(${target} PUBLIC ${A_DEPS})
  endif()
endfunction()

macro(qb_setup_gtest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  if(EXISTS /usr/src/googletest/CMakeLists.txt)
    # Built from Debian's sources so that the mingw builds get it too.
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(t gtest gtest_main gmock gmock_main)
      if(TARGET ${t})
        target_compile_options(${t} PRIVATE -w)
      endif()
    endforeach()
  else()
    message(FATAL_ERROR "GoogleTest sources not found: apt-get install googletest")
  endif()
  if(WIN32)
    # One Wine start for the whole run, in a private prefix under the build folder.
    set(QB_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    # The server is started first and kept alive between tests: a test that starts while the
    # previous server is still exiting can fail before printing anything.
    set(wine_env "WINEPREFIX=${QB_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
    add_test(NAME wine_boot COMMAND sh -c "wineserver -k 2>/dev/null; mkdir -p ${QB_WINEPREFIX} && wineserver -p60 && wineboot -i")
    set_tests_properties(wine_boot PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
    add_test(NAME wine_stop COMMAND sh -c "wineserver -k; true")
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_env}")
  endif()
endmacro()

function(qb_test name)
  cmake_parse_arguments(A "NATIVE_ONLY;WINDOWS_ONLY" "" "LIBS;SOURCES;ENV" ${ARGN})
  if(NOT QB_BUILD_TESTS)
    return()
  endif()
  if(A_NATIVE_ONLY AND WIN32)
    return()
  endif()
  if(A_WINDOWS_ONLY AND NOT WIN32)
    return()
  endif()
  qb_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR})
  add_executable(test_${name} ${srcs} ${A_SOURCES})
  target_link_libraries(test_${name} PRIVATE ${A_LIBS} gmock gtest_main)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(test_${name} PRIVATE
    QB_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QB_TEST_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND test_${name})
  set(env ${A_ENV})
  if(WIN32)
    list(APPEND env "WINEPREFIX=${QB_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
  if(env)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
  endif()
endfunction()

# qb_fuzzer(<name> SOURCE <file> LIBS <targets>...): a libFuzzer harness (QB_FUZZ builds only).
function(qb_fuzzer name)
  cmake_parse_arguments(A "" "SOURCE" "LIBS" ${ARGN})
  if(NOT QB_FUZZ)
    return()
  endif()
  add_executable(fuzz_${name} ${A_SOURCE})
  target_link_libraries(fuzz_${name} PRIVATE ${A_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
