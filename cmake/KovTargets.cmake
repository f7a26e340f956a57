# Helpers shared by every folder's CMakeLists.txt. Sources are found by glob so
# that adding a file to a module needs no edit here.

# Our own code builds warning-free. Warnings are errors where we pick the
# compiler (the presets and CI turn this on); with whatever compiler a user or
# packager has, a new warning is only a warning. GoogleTest gets the warnings
# but never -Werror.
option(KOV_WARNINGS_AS_ERRORS "Treat warnings in KOV's own code as errors" OFF)
function(kov_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KOV_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# kov_glob(<out-var> <dir> [WIN32_ONLY | PORTABLE_ONLY])
# Lists <dir>/*.cpp; PORTABLE_ONLY drops *_win32.cpp, WIN32_ONLY keeps only them.
function(kov_glob out dir)
  cmake_parse_arguments(ARG "WIN32_ONLY;PORTABLE_ONLY" "" "" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(ARG_WIN32_ONLY)
    list(FILTER files INCLUDE REGEX "_win32\\.cpp$")
  elseif(ARG_PORTABLE_ONLY)
    list(FILTER files EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  list(SORT files)
  set(${out} "${files}" PARENT_SCOPE)
endfunction()

# kov_library(<name> <sources...>): a static library of our own code, created
# only when there is at least one source, so a folder can start out empty.
function(kov_library name)
  if(NOT ARGN)
    return()
  endif()
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  kov_warnings(${name})
endfunction()

# kov_link_if_present(<target> <PUBLIC|PRIVATE> <libs...> [SYSTEM <names...>]):
# links those of <libs> that exist as targets (a module without sources yet
# has none) and every plain system library named after SYSTEM.
function(kov_link_if_present target scope)
  cmake_parse_arguments(ARG "" "" "SYSTEM" ${ARGN})
  foreach(lib IN LISTS ARG_UNPARSED_ARGUMENTS)
    if(TARGET ${lib})
      target_link_libraries(${target} ${scope} ${lib})
    endif()
  endforeach()
  if(ARG_SYSTEM)
    target_link_libraries(${target} ${scope} ${ARG_SYSTEM})
  endif()
endfunction()
