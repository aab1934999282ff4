# A static library made of every .cpp under the given folders (files are
# picked up when added; cmake re-runs by itself). Shared by the main build and
# the fuzz build.
function(nimbra_library name)
  set(sources)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  add_library(${name} STATIC ${sources} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/empty.cpp)
endfunction()
