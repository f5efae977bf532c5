# The Win32 line, checked on the sources' #include lines:
#   - a module above the platform (app graph input console channels runtime)
#     includes standard C++ headers, other modules' headers and the
#     platform's public headers (platform/Win32.h and what it includes), and
#     nothing else: no POSIX, Linux or SDL header, no internal one;
#   - a module includes only the modules below it (the README's table of
#     targets), save the one cycle the system has: BiosIO's body runs IO's
#     first, as the initialisation order asks;
#   - the public headers include only each other and standard C++ headers;
#   - inside the platform an area includes only the areas below it;
#   - a *Testing.h header is included by tests and by its own area's sources;
#   - with COMPILER given, platform/Win32.h preprocessed pulls in no POSIX,
#     Linux or SDL header, not even through a standard one.
# Run as: cmake -DSOURCE_DIR=<source tree> [-DCOMPILER=<c++>] -P CheckBoundary.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(MODULES app graph input console channels runtime)

# The C++ standard library's headers (C++20), the C ones in their <cxxx> form.
set(STANDARD_HEADERS
  algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex
  concepts condition_variable coroutine deque exception execution filesystem format
  forward_list fstream functional future initializer_list iomanip ios iosfwd iostream
  istream iterator latch limits list locale map memory memory_resource mutex new numbers
  numeric optional ostream queue random ranges ratio regex scoped_allocator semaphore set
  shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
  string_view syncstream system_error thread tuple type_traits typeindex typeinfo
  unordered_map unordered_set utility valarray variant vector version
  cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp csignal
  cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype)

# Which modules each module may include (its own included), lowest first.
set(USES_runtime runtime)
set(USES_channels runtime channels)
set(USES_graph runtime graph)
set(USES_input runtime channels graph input)
set(USES_console runtime channels graph input console)
set(USES_app runtime channels graph input console app)
# Includes against that order that the system needs: file|header.
set(ALLOWED_CYCLES "input/BiosIO.cpp|console/IO.h")

# Which areas each platform area may include (its own included).
set(AREAS_kernel kernel)
set(AREAS_keys kernel keys)  # the kernel's types only
set(AREAS_console kernel keys console)
set(AREAS_display kernel keys display)
set(AREAS_gdi kernel display gdi)
set(AREAS_user kernel keys console display gdi user)
set(AREAS_windows windows)  # the real API: on its own

set(violations "")

# includes(<file> <out>): "line|kind|name" for every #include of the file,
# kind being < or ".
function(includes file out)
  file(STRINGS "${SOURCE_DIR}/${file}" lines)
  set(result "")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      list(APPEND result "${number}|${CMAKE_MATCH_1}|${CMAKE_MATCH_2}")
    elseif(line MATCHES "^[ \t]*#[ \t]*include")
      list(APPEND result "${number}|?|${line}")
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The three fields of an includes() entry, as `line`, `kind` and `name` of
# the caller.
macro(split_entry entry)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 line)
  list(GET parts 1 kind)
  list(GET parts 2 name)
endmacro()

# The public headers: Win32.h and what it includes.
set(PUBLIC platform/Win32.h)
includes(platform/Win32.h win32_includes)
foreach(entry IN LISTS win32_includes)
  split_entry("${entry}")
  list(APPEND PUBLIC "${name}")
endforeach()

# In `out`, whether `name` is a header for tests (*Testing.h) that `file`
# includes from outside that header's own folder.
function(for_tests_outside file name out)
  get_filename_component(folder "${file}" DIRECTORY)
  get_filename_component(included_folder "${name}" DIRECTORY)
  if(name MATCHES "Testing\\.h$" AND NOT folder STREQUAL included_folder)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(check_standard file line name)
  list(FIND STANDARD_HEADERS "${name}" found)
  if(found LESS 0)
    set(v "${violations}")
    list(APPEND v "${file}:${line}: <${name}> is no standard C++ header")
    set(violations "${v}" PARENT_SCOPE)
  endif()
endfunction()

# In `out`, whether `file` (of a module) includes `name`, a header of module `top`,
# that lies above its own, and is no cycle named allowed.
function(module_above file name top out)
  set(${out} FALSE PARENT_SCOPE)
  string(REGEX MATCH "^[^/]+" own "${file}")
  list(FIND MODULES "${own}" own_is_module)
  list(FIND MODULES "${top}" top_is_module)
  if(own_is_module LESS 0 OR top_is_module LESS 0)
    return()
  endif()
  list(FIND USES_${own} "${top}" allowed)
  list(FIND ALLOWED_CYCLES "${file}|${name}" cycle)
  if(allowed LESS 0 AND cycle LESS 0)
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()

# A module's source or a public header: standard headers, modules, public
# headers (and for the public headers, nothing but those).
function(check_above file)
  includes("${file}" entries)
  list(FIND PUBLIC "${file}" is_public)
  foreach(entry IN LISTS entries)
    split_entry("${entry}")
    if(kind STREQUAL "<")
      check_standard("${file}" "${line}" "${name}")
    elseif(kind STREQUAL "?")
      list(APPEND violations "${file}:${line}: an include this check cannot read")
    else()
      list(FIND PUBLIC "${name}" public)
      string(REGEX MATCH "^[^/]+" top "${name}")
      list(FIND MODULES "${top}" module)
      for_tests_outside("${file}" "${name}" for_tests)
      module_above("${file}" "${name}" "${top}" above)
      if(is_public GREATER_EQUAL 0 AND public LESS 0)
        list(APPEND violations "${file}:${line}: a public header includes \"${name}\"")
      elseif(public LESS 0 AND module LESS 0)
        list(APPEND violations "${file}:${line}: \"${name}\" is behind the Win32 line")
      elseif(for_tests)
        list(APPEND violations "${file}:${line}: \"${name}\" is for tests")
      elseif(above)
        list(APPEND violations "${file}:${line}: \"${name}\" is in a module above this one")
      endif()
    endif()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

function(check_platform file area)
  includes("${file}" entries)
  foreach(entry IN LISTS entries)
    split_entry("${entry}")
    if(kind STREQUAL "\"" AND name MATCHES "^platform/([^/]+)/")
      set(other "${CMAKE_MATCH_1}")
      list(FIND AREAS_${area} "${other}" allowed)
      for_tests_outside("${file}" "${name}" for_tests)
      if(allowed LESS 0)
        list(APPEND violations "${file}:${line}: the ${area} area includes the ${other} area")
      elseif(for_tests)
        list(APPEND violations "${file}:${line}: \"${name}\" is for tests")
      endif()
    endif()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

set(checked 0)
foreach(module IN LISTS MODULES)
  file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${module}/*.cpp"
       "${SOURCE_DIR}/${module}/*.h" "${SOURCE_DIR}/${module}/*.S")
  foreach(file IN LISTS sources)
    check_above("${file}")
    math(EXPR checked "${checked} + 1")
  endforeach()
endforeach()
foreach(header IN LISTS PUBLIC)
  if(NOT EXISTS "${SOURCE_DIR}/${header}")
    list(APPEND violations "platform/Win32.h: \"${header}\" does not exist")
    continue()
  endif()
  check_above("${header}")
  math(EXPR checked "${checked} + 1")
endforeach()
file(GLOB areas RELATIVE "${SOURCE_DIR}/platform" "${SOURCE_DIR}/platform/*")
foreach(area IN LISTS areas)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/platform/${area}")
    continue()
  endif()
  if(NOT DEFINED AREAS_${area})
    list(APPEND violations "platform/${area}: an area this check does not know")
    continue()
  endif()
  file(GLOB sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/platform/${area}/*.cpp"
       "${SOURCE_DIR}/platform/${area}/*.h")
  foreach(file IN LISTS sources)
    check_platform("${file}" "${area}")
    math(EXPR checked "${checked} + 1")
  endforeach()
endforeach()

# Every file the preprocessor opens for Win32.h (g++ -H lists them, one dot a
# level); the C library's own plumbing (features.h, sys/cdefs.h, bits/) is
# what any standard header brings.
if(COMPILER)
  execute_process(
    COMMAND "${COMPILER}" -std=c++20 -I "${SOURCE_DIR}" -H -fsyntax-only -x c++
            "${SOURCE_DIR}/platform/Win32.h"
    RESULT_VARIABLE status ERROR_VARIABLE tree OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    list(APPEND violations "platform/Win32.h does not compile on its own:\n${tree}")
  endif()
  string(REPLACE "\n" ";" tree_lines "${tree}")
  set(posix_names "pthread|signal|unistd|fcntl|dlfcn|link|elf|termios|poll|ucontext|sched|semaphore|spawn|dirent")
  foreach(line IN LISTS tree_lines)
    if(NOT line MATCHES "^\\.+ (.+)$")
      continue()
    endif()
    set(opened "${CMAKE_MATCH_1}")
    if(opened MATCHES "(^|/)(${posix_names})\\.h$" OR opened MATCHES "/linux/" OR
       opened MATCHES "/SDL2?/" OR
       (opened MATCHES "/sys/" AND NOT opened MATCHES "/sys/cdefs\\.h$"))
      list(APPEND violations "platform/Win32.h pulls in ${opened}")
    endif()
  endforeach()
endif()

if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "The Win32 line is crossed:\n${text}")
endif()
message(STATUS "${checked} files keep to the Win32 line")
