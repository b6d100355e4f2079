# The project's one version lives in the VERSION file at the top of the tree: it names the
# release archives and goes into each program's version resource and into
# `pagorex-store --version`, through the generated header pagorex_version.h in
# <tree>/generated, which every target of the tree has on its include path.
set(version_file ${CMAKE_CURRENT_LIST_DIR}/../VERSION)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${version_file})
file(STRINGS ${version_file} PAGOREX_VERSION LIMIT_COUNT 1)
if(NOT PAGOREX_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION must hold MAJOR.MINOR.PATCH (each a number), not '${PAGOREX_VERSION}'")
endif()
set(PAGOREX_VERSION_NUMBERS "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},0")
set(PAGOREX_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../resources/pagorex_version.h.in ${PAGOREX_GENERATED_DIR}/pagorex_version.h
               @ONLY)
include_directories(${PAGOREX_GENERATED_DIR})
