# Test helpers shared by every test directory.
#
# Windows test programs run under Wine through the generated script build/wine-run
# (the CTest cross-compiling emulator). A fixture warms the wineserver (and Xvfb when
# no display is set) once for the whole run and stops them at the end.

set(PAGOREX_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
math(EXPR PAGOREX_TARGET_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
configure_file(${CMAKE_SOURCE_DIR}/tools/wine-run.in ${PAGOREX_WINE_RUN}
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PAGOREX_WINE_RUN})

# Native (host compiler, sanitizers) build tree for the byte-level code.
set(PAGOREX_NATIVE_DIR ${CMAKE_BINARY_DIR}/native CACHE PATH "Native sanitizer build tree")
set(PAGOREX_FUZZ_SECONDS 15 CACHE STRING "Seconds each fuzz target runs during make test")

# pagorex_add_test(NAME name SOURCES ... [LIBS ...] [TIMEOUT s] [LABELS ...])
# One GoogleTest program per subsystem, run as one CTest test. It links the test build
# (_seams) of every library that has one.
function(pagorex_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  pagorex_seams_of(libs ${T_LIBS})
  target_link_libraries(${T_NAME} PRIVATE ${libs} GTest::gtest GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Windows tests share one display: a box or dialog of one would cover the windows
  # whose pixels another reads, or be taken for its own. The native tests and fuzz runs
  # still run beside them.
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} FIXTURES_REQUIRED wine
                       RESOURCE_LOCK screen LABELS "${T_LABELS}")
endfunction()
