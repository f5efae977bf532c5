# The constants of namespace win32 are the same on both platforms: every
# windows.h macro the modules use as win32::NAME has, in the Windows build's
# header, the value the Linux platform gives it. The Linux values are printed
# by a native program as static_asserts, which the cross compiler then checks
# against platform/windows/Win32.h.
# Run as: cmake -DSOURCE_DIR=<tree> -DNATIVE=<c++> -DCROSS=<mingw c++>
#               -DWORK_DIR=<dir> -P CheckWin32Names.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/Win32Names.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(header ${WORK_DIR}/include/platform/windows/Win32Names.h)
win32_names(${SOURCE_DIR} ${CROSS} ${header})
win32_module_sources(${SOURCE_DIR} sources)
# A test helper's Windows side (FooWindows.cpp) uses what only Windows has.
list(FILTER sources EXCLUDE REGEX "Windows\\.cpp$")
win32_used_names("${sources}" used)
win32_object_macros(${CROSS} ${WORK_DIR} "${used}" macros)
list(REMOVE_ITEM macros ${WIN32_NAMES_POINTERS})
list(LENGTH macros count)
if(count LESS 50)
  message(FATAL_ERROR "only ${count} macros found among the modules' win32:: names")
endif()

set(printer "#include <cstdio>\n#include \"platform/Win32.h\"\nint main() {\n")
foreach(name IN LISTS macros)
  string(APPEND printer "  std::printf(\"static_assert(static_cast<long long>(win32::${name}) == %lldLL, "
         "\\\"${name}\\\");\\n\", static_cast<long long>(win32::${name}));\n")
endforeach()
string(APPEND printer "}\n")
file(WRITE ${WORK_DIR}/linux_values.cpp "${printer}")
execute_process(COMMAND ${NATIVE} -std=c++20 -I ${SOURCE_DIR} ${WORK_DIR}/linux_values.cpp -o
                        ${WORK_DIR}/linux_values RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the Linux platform lacks a constant the modules use:\n${errors}")
endif()
execute_process(COMMAND ${WORK_DIR}/linux_values OUTPUT_VARIABLE asserts RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "linux_values failed")
endif()

# The Windows side: the same values, and the real types behind the names.
file(WRITE ${WORK_DIR}/windows_values.cpp
     "#include <type_traits>\n#include \"platform/windows/Win32.h\"\n${asserts}"
     "static_assert(std::is_same_v<win32::HWND, ::HWND>);\n"
     "static_assert(std::is_same_v<win32::DWORD, ::DWORD>);\n"
     "static_assert(std::is_same_v<decltype(&win32::CreateWindowExA), decltype(&::CreateWindowExA)>);\n"
     "static_assert(std::is_same_v<std::remove_const_t<decltype(win32::INVALID_HANDLE_VALUE)>, HANDLE>);\n"
     "int main() {}\n")
execute_process(COMMAND ${CROSS} -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I ${WORK_DIR}/include
                        -I ${SOURCE_DIR} ${WORK_DIR}/windows_values.cpp
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "win32:: constants differ between the platforms:\n${errors}")
endif()
message(STATUS "${count} win32:: constants agree between Linux and Windows")
