# Checks that every quoted #include in the source folders goes down the
# layers, never up or sideways:
#
#   cmake -DROOT=<source tree> -P cmake/include_direction.cmake
#
# Each include against the direction is reported as
#   <file>:<line>: <from> -> <to> (<the include>): <what the layer may include>
# and the script then fails. tests/, bench/, fuzz/ and tools/ are not checked.
# A quoted include without a folder is taken from the same folder, except the
# generated version.h. docs/architecture.md describes the layers.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P include_direction.cmake")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

# Bottom to top. What each layer may include besides its own folder.
set(layers base catalogue reader cli widgets preview app)
set(may_base "")
set(may_catalogue base)
set(may_reader base catalogue)
set(may_cli base catalogue reader version.h)
set(may_widgets base)
set(may_preview base)
set(may_app base catalogue reader widgets preview version.h)
# The core: plain C++, no Qt header.
set(no_qt base catalogue reader)

set(arrows "")
set(files_read 0)
foreach(layer IN LISTS layers)
  if(NOT IS_DIRECTORY "${ROOT}/${layer}")
    continue()
  endif()
  list(JOIN may_${layer} ", " may_text)
  if(may_text STREQUAL "")
    set(may_text "nothing of the project")
  endif()
  set(may_text "${layer} may include ${may_text}")

  file(GLOB_RECURSE sources LIST_DIRECTORIES false RELATIVE "${ROOT}"
       "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.hpp" "${ROOT}/${layer}/*.cpp" "${ROOT}/${layer}/*.cc")
  list(SORT sources)
  foreach(source IN LISTS sources)
    math(EXPR files_read "${files_read} + 1")
    get_filename_component(folder "${source}" DIRECTORY)
    file(READ "${ROOT}/${source}" text)
    # One list element a line: characters that mean something to CMake lists
    # are taken out first (they never matter in an include line).
    string(REGEX REPLACE "[][;\\\\]" "_" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
        set(included "${CMAKE_MATCH_1}")
        if(included MATCHES "^([^/]+)/")
          set(to "${CMAKE_MATCH_1}")
          # A folder that is neither a layer nor in the tree is outside the
          # project (a library's own headers).
          if(NOT to IN_LIST layers AND NOT IS_DIRECTORY "${ROOT}/${to}")
            continue()
          endif()
        elseif(included STREQUAL "version.h" AND NOT EXISTS "${ROOT}/${folder}/version.h")
          set(to version.h)
        else()
          continue()  # same folder
        endif()
        if(to STREQUAL layer OR to IN_LIST may_${layer})
          continue()
        endif()
        list(APPEND arrows "${source}:${number}: ${layer} -> ${to} (\"${included}\"): ${may_text}")
      elseif(layer IN_LIST no_qt AND line MATCHES "^[ \t]*#[ \t]*include[ \t]*<(Q[A-Za-z0-9_/.]*)>")
        list(APPEND arrows "${source}:${number}: ${layer} -> Qt (<${CMAKE_MATCH_1}>): the core includes no Qt header")
      endif()
    endforeach()
  endforeach()
endforeach()

if(files_read EQUAL 0)
  message(FATAL_ERROR "no source files under ${ROOT}: wrong ROOT?")
endif()
list(LENGTH arrows count)
if(count GREATER 0)
  foreach(arrow IN LISTS arrows)
    message("${arrow}")
  endforeach()
  message(FATAL_ERROR "${count} include(s) against the layers' direction (${files_read} files read)")
endif()
message(STATUS "includes go down the layers (${files_read} files read)")
