# Progress is drawn on a terminal only, and never with --quiet; --stats
# names every step's time. With BENDLENS_PROGRESS_AFTER=0 every step shows,
# however quick. `script` (util-linux) runs the tool on a pseudo-terminal.
set(_args --plugin ${PLUGIN} --mesh ${MESH} --width 48 --height 36 --spp 1)
set(ENV{BENDLENS_PROGRESS_AFTER} 0)

# On a terminal: the steps' bars, each finished at 100% on a line of its own.
string(JOIN " " _command env BENDLENS_PROGRESS_AFTER=0 ${PREVIEW} ${_args}
       --output ${OUT}/terminal.png)
execute_process(COMMAND script -qec "${_command}" /dev/null
                RESULT_VARIABLE _result OUTPUT_VARIABLE _terminal ERROR_VARIABLE _terminal_err)
if(NOT _result STREQUAL "0")
  message(FATAL_ERROR "on a terminal: exit status ${_result}: ${_terminal}${_terminal_err}")
endif()
foreach(_step read render)
  if(NOT _terminal MATCHES "\r${_step} +\\[#+\\] 100% +[0-9.]+ s\r?\n")
    message(FATAL_ERROR "no finished bar for '${_step}' on a terminal: ${_terminal}")
  endif()
endforeach()

# On a terminal with --quiet: no bar.
execute_process(COMMAND script -qec "${_command} --quiet" /dev/null
                RESULT_VARIABLE _result OUTPUT_VARIABLE _quiet ERROR_VARIABLE _quiet_err)
if(NOT _result STREQUAL "0" OR _quiet MATCHES "\\[[#.]+\\]")
  message(FATAL_ERROR "--quiet on a terminal: exit status ${_result}, output: ${_quiet}")
endif()

# Not a terminal: no bar on stderr (only the warnings this flat mesh draws);
# --stats names each step's time.
execute_process(COMMAND ${PREVIEW} ${_args} --stats --output ${OUT}/pipe.png
                RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
if(NOT _result STREQUAL "0" OR _err MATCHES "[[]")
  message(FATAL_ERROR "into a pipe: exit status ${_result}, stderr: '${_err}'")
endif()
if(NOT _out MATCHES "steps: read [0-9.]+ s, weld [0-9.]+ s, BVH [0-9.]+ s, curvature [0-9.]+ s, auto-range [0-9.]+ s, render [0-9.]+ s, write [0-9.]+ s, total [0-9.]+ s")
  message(FATAL_ERROR "--stats names no steps: ${_out}")
endif()
message(STATUS "progress on a terminal only, none with --quiet; --stats times every step")
