# morvia_public_headers(<target> <scope> [<folder>])
# Gives <target> one public include folder of its own, generated in the
# build tree, that holds a single link named after the subsystem's folder
# (default: the calling CMakeLists.txt's folder) pointing at it. So
# `#include "startup/Quenta.h"` compiles only in code that links the library
# of src/startup (directly or through a library that depends on it): the
# layering holds at compile time, not only at link time, and headers stay
# where they are.
function(morvia_public_headers target scope)
  set(folder ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARGC GREATER 2)
    set(folder ${ARGV2})
  endif()
  get_filename_component(subsystem ${folder} NAME)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root})
  file(REMOVE ${root}/${subsystem})  # a link left by an earlier configure
  file(CREATE_LINK ${folder} ${root}/${subsystem} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# morvia_library(NAME <target> SOURCES <files...> DEPS <targets...>)
# A static library of one subsystem; an empty source list gives an interface
# library so that the tree configures while a subsystem is still empty. Its
# public include path holds its own headers' folder only; the headers of the
# libraries in DEPS come with those libraries.
function(morvia_library)
  cmake_parse_arguments(ML "" "NAME" "SOURCES;DEPS" ${ARGN})
  if(ML_SOURCES)
    add_library(${ML_NAME} STATIC ${ML_SOURCES})
    morvia_public_headers(${ML_NAME} PUBLIC)
    target_link_libraries(${ML_NAME} PUBLIC ${ML_DEPS} Threads::Threads)
  else()
    add_library(${ML_NAME} INTERFACE)
    morvia_public_headers(${ML_NAME} INTERFACE)
    target_link_libraries(${ML_NAME} INTERFACE ${ML_DEPS} Threads::Threads)
  endif()
endfunction()
