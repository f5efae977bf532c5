# The platform on Windows: the real API. The modules see platform/Win32.h as
# this folder's Win32.h, which names the real functions and types in
# namespace win32 and turns the macros they use into constants there, so
# win32::FALSE and win32::WM_MOUSEMOVE mean the same on both platforms.

set(windows_dir ${CMAKE_CURRENT_SOURCE_DIR}/windows)
set(public_dir ${SHAPEBOARD_MODULE_INCLUDE}/platform)
file(MAKE_DIRECTORY ${public_dir}/windows)
file(CREATE_LINK ${windows_dir}/Win32.h ${public_dir}/Win32.h SYMBOLIC)
# The modules may include a part of the API by its Linux header's name; here
# each such name stands for the whole of it.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/Win32.h public_includes REGEX "^#include \"platform/")
foreach(line ${public_includes})
  string(REGEX REPLACE "^#include \"platform/([^\"]+)\".*" "\\1" header "${line}")
  file(CONFIGURE OUTPUT ${public_dir}/${header} CONTENT "#pragma once\n#include \"platform/Win32.h\"\n")
endforeach()

include(${CMAKE_SOURCE_DIR}/cmake/Win32Names.cmake)
win32_names(${CMAKE_SOURCE_DIR} ${CMAKE_CXX_COMPILER} ${public_dir}/windows/Win32Names.h)
# A new use of win32:: may name a new macro.
win32_module_sources(${CMAKE_SOURCE_DIR} module_sources)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${module_sources})

file(GLOB sources CONFIGURE_DEPENDS ${windows_dir}/*.cpp)
add_library(win32_windows STATIC ${sources})
target_include_directories(win32_windows PRIVATE ${SHAPEBOARD_MODULE_INCLUDE})
target_link_libraries(win32_windows PUBLIC user32 gdi32 kernel32)

add_library(win32 INTERFACE)
target_include_directories(win32 INTERFACE ${SHAPEBOARD_MODULE_INCLUDE})
target_link_libraries(win32 INTERFACE win32_windows)
set(SHAPEBOARD_WIN32_PUBLIC_HEADERS platform/windows/Win32.h PARENT_SCOPE)
