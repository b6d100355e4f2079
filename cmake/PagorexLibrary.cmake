# pagorex_library(<name> [SEAMS] LIBS ...): a subsystem's static library made of every
# .cpp file of the calling directory, with the repository root as its include root.
#
# SEAMS also makes <name>_seams from the same files with PAGOREX_TEST_SEAMS defined: the
# hooks through which unit tests inject failures and stand-ins. Only test programs link
# it; what users run is built from <name>, which has none of them. A library of the LIBS
# that has a _seams twin is replaced by that twin in it.
function(pagorex_seams_of out)
  set(libs)
  foreach(lib ${ARGN})
    if(TARGET ${lib}_seams)
      list(APPEND libs ${lib}_seams)
    else()
      list(APPEND libs ${lib})
    endif()
  endforeach()
  set(${out} ${libs} PARENT_SCOPE)
endfunction()

function(pagorex_library name)
  cmake_parse_arguments(L "SEAMS" "" "LIBS;SOURCES" ${ARGN})
  if(L_SOURCES)
    set(sources ${L_SOURCES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_LIBS})
  if(L_SEAMS)
    add_library(${name}_seams STATIC ${sources})
    target_include_directories(${name}_seams PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${name}_seams PUBLIC PAGOREX_TEST_SEAMS)
    pagorex_seams_of(libs ${L_LIBS})
    target_link_libraries(${name}_seams PUBLIC ${libs})
  endif()
endfunction()

# pagorex_release_resources(<program> <script.rc>): the program's version resource and
# manifest, from a script that names the program and includes resources/release.rc.
function(pagorex_release_resources target script)
  target_sources(${target} PRIVATE ${script})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  set_source_files_properties(${script} PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/release.rc;${CMAKE_SOURCE_DIR}/resources/pagorex.manifest;${PAGOREX_GENERATED_DIR}/pagorex_version.h")
endfunction()
