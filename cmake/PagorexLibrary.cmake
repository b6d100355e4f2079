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
