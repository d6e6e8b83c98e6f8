# Installs the build into an empty prefix, as `cmake --install` does for a
# user, and checks that everything the programs need is in its place, that the
# installed command-line tool runs from there, and that the bash completion
# completes. Run by CTest: cmake -DBUILD=... -DPREFIX=... -DVERSION=... -P this
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(result)
  message(FATAL_ERROR "cmake --install failed: ${errors}")
endif()

set(expected
  bin/ostrel-bkf
  bin/ostrel-bkf-repair
  share/applications/ostrel-bkf-repair.desktop
  share/mime/packages/ostrel-bkf-repair.xml
  "share/ostrel-bkf-repair/Korvane Ostrel BKF Repair.html"
  share/man/man1/ostrel-bkf.1
  share/bash-completion/completions/ostrel-bkf)
foreach(size 16 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/ostrel-bkf-repair.png)
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

execute_process(COMMAND "${PREFIX}/bin/ostrel-bkf" --version OUTPUT_VARIABLE version RESULT_VARIABLE result)
if(result OR NOT version STREQUAL "ostrel-bkf ${VERSION}\n")
  message(FATAL_ERROR "installed ostrel-bkf --version said '${version}' (${result})")
endif()
file(READ "${PREFIX}/share/man/man1/ostrel-bkf.1" page)
if(NOT page MATCHES "ostrel-bkf ${VERSION}")
  message(FATAL_ERROR "the manual page does not carry the version")
endif()

# The completion offers the commands, and a command's options.
foreach(case "sc|scan" "extract --fl|--flat" "extract --ov|--overwrite" "list --j|--json" "scan --mode a|advanced")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 line)
  list(GET parts 1 wanted)
  execute_process(
    COMMAND bash -c "source \"${PREFIX}/share/bash-completion/completions/ostrel-bkf\"
                     COMP_WORDS=(ostrel-bkf ${line}); COMP_CWORD=$((\${#COMP_WORDS[@]} - 1))
                     _ostrel_bkf; printf '%s\\n' \"\${COMPREPLY[@]}\""
    OUTPUT_VARIABLE offered RESULT_VARIABLE result)
  if(result OR NOT offered MATCHES "(^|\n)${wanted}\n")
    message(FATAL_ERROR "completing '${line}' offered '${offered}', not ${wanted}")
  endif()
endforeach()
