# shapeboard_library(name DEPS ... SOURCES ...): a module above the platform, a
# static library of the folder's sources (or an interface library while the
# folder has none yet). It sees the modules and the platform's public headers
# only, and links `win32`.
function(shapeboard_library name)
  cmake_parse_arguments(L "" "" "DEPS;SOURCES" ${ARGN})
  if(L_SOURCES)
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC ${SHAPEBOARD_MODULE_INCLUDE})
    target_link_libraries(${name} PUBLIC ${L_DEPS} win32)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${SHAPEBOARD_MODULE_INCLUDE})
    target_link_libraries(${name} INTERFACE ${L_DEPS} win32)
  endif()
endfunction()

# shapeboard_align_functions(file ...): each function of the files starts on a
# 64-byte line (GNU only). For code on a hot path entered a few times per
# operation, often with the cache emptied by a system call: a function that
# starts late in a line is fetched in two.
function(shapeboard_align_functions)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS -falign-functions=64)
  endif()
endfunction()
