# Common compile settings for the project's own targets.
function(bv_project_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

# bv_glob_library(NAME DIR [LIBS ...]): a static library of every .cpp in the folder (an
# interface library while the folder has none yet).
function(bv_glob_library name)
  cmake_parse_arguments(L "" "" "LIBS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_srcs)
    add_library(${name} STATIC ${_srcs})
    bv_project_target(${name})
    target_link_libraries(${name} PUBLIC ${L_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${L_LIBS})
  endif()
endfunction()
