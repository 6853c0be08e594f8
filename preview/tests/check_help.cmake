# -h, --help and --version must answer on stdout with exit status 0 (they were
# once refused as options missing a value), and every option --help lists must
# have a row in the README's options table, so the two stay in step.
foreach(_flag -h --help)
  execute_process(COMMAND ${PREVIEW} ${_flag} RESULT_VARIABLE _result OUTPUT_VARIABLE _help
                  ERROR_VARIABLE _err)
  if(NOT _result STREQUAL "0" OR NOT _help MATCHES "Usage: bendlens-preview" OR _err)
    message(FATAL_ERROR "${_flag}: exit status ${_result}, stderr '${_err}', stdout:\n${_help}")
  endif()
endforeach()
execute_process(COMMAND ${PREVIEW} --version RESULT_VARIABLE _result OUTPUT_VARIABLE _version
                ERROR_VARIABLE _err)
if(NOT _result STREQUAL "0" OR NOT _version MATCHES "^bendlens-preview [0-9]+\\.[0-9]+\\.[0-9]+\n"
   OR NOT _version MATCHES "shader interface version 1")
  message(FATAL_ERROR "--version: exit status ${_result}, stderr '${_err}', stdout:\n${_version}")
endif()

file(READ ${README} _readme)
string(REGEX MATCHALL "\n  (-h,)?--[a-z_-]+" _listed "${_help}")
set(_missing "")
foreach(_entry IN LISTS _listed)
  string(REGEX REPLACE "^\n  (-h,)?" "" _option "${_entry}")
  string(FIND "${_readme}" "`${_option}" _at)
  if(_at LESS 0)
    list(APPEND _missing ${_option})
  endif()
endforeach()
list(LENGTH _listed _count)
if(_count LESS 30 OR _missing)
  message(FATAL_ERROR "${_count} options in --help; not in the README: ${_missing}")
endif()
