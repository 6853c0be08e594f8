# Runs the preview once for every row in ROWS and checks each as a user would
# see it. A row is one line of fields separated by tabs: its kind, two
# patterns, then the arguments.
#
#   refuses  MESSAGE  (unused)  ARGS...
#     exit status 1, exactly one line on the standard error stream, reading
#     "bendlens-preview: " and then matching MESSAGE, nothing on the standard
#     output (the refusal comes before any render), and nothing written:
#     FOLDER stays empty and no file starts with OUTPUT.
#   renders  STDOUT  STDERR  ARGS...
#     exit status 0, the standard output matching STDOUT and the standard
#     error stream matching STDERR (empty STDERR: nothing on it), and no
#     temporary file left in FOLDER. In both patterns each line ends in
#     "<nl>", so that "^...<nl>$" pins the whole stream and [^<]* stays
#     within a line.
#
# FOLDER is emptied before every row. Every failing row is reported, not
# only the first.
cmake_minimum_required(VERSION 3.25)
file(STRINGS ${ROWS} _rows)
set(_failures "")
foreach(_row IN LISTS _rows)
  string(REPLACE "\t" ";" _fields "${_row}")
  list(POP_FRONT _fields _kind _expect_out _expect_err)
  file(REMOVE_RECURSE ${FOLDER})
  file(MAKE_DIRECTORY ${FOLDER})
  file(REMOVE ${OUTPUT})
  file(GLOB _leftovers "${OUTPUT}.partial-*")
  if(_leftovers)
    file(REMOVE ${_leftovers})
  endif()
  execute_process(COMMAND ${PREVIEW} ${_fields}
                  RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  string(REPLACE "\n" "<nl>" _out_lines "${_out}")
  string(REPLACE "\n" "<nl>" _err_lines "${_err}")
  set(_problem "")
  if(_kind STREQUAL "refuses")
    string(REGEX MATCHALL "\n" _newlines "${_err}")
    list(LENGTH _newlines _lines)
    string(REGEX REPLACE "\n$" "" _line "${_err}")
    file(GLOB _left "${OUTPUT}*" "${FOLDER}/*")
    if(NOT _result STREQUAL "1")
      set(_problem "exit status ${_result}, not 1")
    elseif(NOT _lines EQUAL 1)
      set(_problem "${_lines} lines on stderr, not 1")
    elseif(NOT _line MATCHES "^bendlens-preview: ")
      set(_problem "the line does not start with 'bendlens-preview: '")
    elseif(NOT _line MATCHES "${_expect_out}")
      set(_problem "the line does not match '${_expect_out}'")
    elseif(NOT _out STREQUAL "")
      set(_problem "it printed on stdout before refusing: ${_out}")
    elseif(_left)
      set(_problem "files left behind: ${_left}")
    endif()
  else()
    file(GLOB _partial "${FOLDER}/*.partial-*")
    if(NOT _result STREQUAL "0")
      set(_problem "exit status ${_result}, not 0")
    elseif(NOT _out_lines MATCHES "${_expect_out}")
      set(_problem "stdout does not match '${_expect_out}'")
    elseif(_expect_err STREQUAL "" AND NOT _err STREQUAL "")
      set(_problem "stderr is not empty")
    elseif(NOT _err_lines MATCHES "${_expect_err}")
      set(_problem "stderr does not match '${_expect_err}'")
    elseif(_partial)
      set(_problem "temporary files left behind: ${_partial}")
    endif()
  endif()
  if(_problem)
    string(APPEND _failures "\n  ${_fields}: ${_problem}; stdout: ${_out}; stderr: ${_err}")
  endif()
endforeach()
if(_failures)
  message(FATAL_ERROR "rows that went wrong:${_failures}")
endif()
list(LENGTH _rows _count)
message(STATUS "${_count} rows as expected")
