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

# kov_library(<name> <sources...>): a static library of our own code.
function(kov_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  kov_warnings(${name})
endfunction()

# The system libraries our targets link by name. Any other name that a target
# of ours links must be a target: kov_check_links() stops the configure step
# on one that is not, where a misspelt target would otherwise reach the linker
# as -l<name>.
set(KOV_SYSTEM_LIBRARIES comctl32 comdlg32 gdi32 ole32 shell32 user32 version windowscodecs)

# kov_check_links(): checks every link of every target below the project's
# folder. Called once, at the end of the top-level CMakeLists.txt, since a
# folder may link a target that a later folder defines.
function(kov_check_links)
  set(dirs "${PROJECT_SOURCE_DIR}")
  set(problems "")
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
    foreach(subdir IN LISTS subdirs)
      # GoogleTest's folder lies outside the tree: its links are its own.
      cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${subdir}" ours)
      if(ours)
        list(APPEND dirs "${subdir}")
      endif()
    endforeach()
    get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(links ${target} LINK_LIBRARIES)
      get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
      foreach(lib IN LISTS links interface_links)
        # A static library's private links reach its users as $<LINK_ONLY:...>;
        # ::@ items mark links made from another folder.
        string(REGEX REPLACE "^\\$<LINK_ONLY:([^$<>]+)>$" "\\1" lib "${lib}")
        if(lib MATCHES "-NOTFOUND$|^::@|^\\$<" OR TARGET "${lib}" OR lib IN_LIST KOV_SYSTEM_LIBRARIES)
          continue()
        endif()
        list(APPEND problems "${target} links \"${lib}\"")
      endforeach()
    endforeach()
  endwhile()
  if(problems)
    list(REMOVE_DUPLICATES problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Not a target, nor a system library of KOV_SYSTEM_LIBRARIES:\n  ${text}")
  endif()
endfunction()
