# Renders from a fresh FOLDER, as a user would from anywhere: no --plugin (the
# tool must find the plug-in beside itself), a relative output name and a
# turntable of three images. Each image must exist under its numbered name,
# with one summary line on stdout; a range far too narrow must draw the
# saturation warning.
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER})
execute_process(COMMAND ${PREVIEW} --width 32 --height 24 --spp 1 --turntable 3 --range_max 0.001
                        --range_min 0.001 --output spin.png
                WORKING_DIRECTORY ${FOLDER}
                RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
if(NOT _result STREQUAL "0")
  message(FATAL_ERROR "exit status ${_result}; stderr: ${_err}")
endif()
foreach(_index 000 001 002)
  if(NOT EXISTS ${FOLDER}/spin-${_index}.png)
    message(FATAL_ERROR "spin-${_index}.png was not written; stdout: ${_out}")
  endif()
  if(NOT _out MATCHES "spin-${_index}.png: 32 x 24 in [0-9.]+ s, [0-9.]+% of pixels hit; ")
    message(FATAL_ERROR "no summary line for spin-${_index}.png; stdout: ${_out}")
  endif()
endforeach()
file(GLOB _written ${FOLDER}/*)
list(LENGTH _written _count)
if(NOT _count EQUAL 3)
  message(FATAL_ERROR "expected three images, found: ${_written}")
endif()
if(NOT _err MATCHES "bendlens-preview: warning: spin-000.png: [0-9]+% of the hit pixels saturate")
  message(FATAL_ERROR "no saturation warning; stderr: ${_err}")
endif()
