# -h, --help and --version must answer on stdout with exit status 0 (they were
# once refused as options missing a value), and every option --help lists must
# have a row in the options table of docs/preview-options.md (OPTIONS), so the
# two stay in step; the default view both quote must be the same figures.
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

# The table's rows only: an option named in the prose around it has no row.
file(STRINGS ${OPTIONS} _rows ENCODING UTF-8 REGEX "^\\| ")
string(REPLACE ";" "\n" _table "${_rows}")
string(REGEX MATCHALL "\n  (-h,)?--[a-z_-]+" _listed "${_help}")
set(_missing "")
foreach(_entry IN LISTS _listed)
  string(REGEX REPLACE "^\n  (-h,)?" "" _option "${_entry}")
  string(FIND "${_table}" "`${_option}" _at)
  if(_at LESS 0)
    list(APPEND _missing ${_option})
  endif()
endforeach()
list(LENGTH _listed _count)
if(_count LESS 30 OR _missing)
  message(FATAL_ERROR "${_count} options in --help; no row in ${OPTIONS}: ${_missing}")
endif()

# The default view: --help prints it from the camera's own default, the table
# quotes it as "(AZIMUTH,ELEVATION: the front".
string(REGEX MATCH "\\(([-0-9.]+,[-0-9.]+):[ \n]+the front" _help_view "${_help}")
set(_help_view "${CMAKE_MATCH_1}")
string(FIND "${_table}" "| `--view " _at)
string(SUBSTRING "${_table}" ${_at} -1 _view_row)
string(FIND "${_view_row}" "\n" _end)
string(SUBSTRING "${_view_row}" 0 ${_end} _view_row)
string(REGEX MATCH "\\(([-0-9.]+,[-0-9.]+): the front" _table_view "${_view_row}")
if(NOT _help_view OR NOT _help_view STREQUAL CMAKE_MATCH_1)
  message(FATAL_ERROR "default view: --help says '${_help_view}', ${OPTIONS} '${CMAKE_MATCH_1}'")
endif()
