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
