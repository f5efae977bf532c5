# shapeboard_library(name DEPS ... SOURCES ...): a static library of the
# folder's sources, or an interface library while the folder has none yet.
function(shapeboard_library name)
  cmake_parse_arguments(L "" "" "DEPS;SOURCES" ${ARGN})
  if(L_SOURCES)
    add_library(${name} STATIC ${L_SOURCES})
    target_link_libraries(${name} PUBLIC ${L_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${L_DEPS})
  endif()
endfunction()
