# Checks that a shared library defines exactly the expected dynamic symbols.
# -DLIBRARY=path -DEXPECTED=comma,separated,sorted,names
find_program(NM NAMES nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(names)
foreach(line IN LISTS lines)
  # "address type name"; only code and data symbols count as exports.
  if(line MATCHES "^[0-9a-fA-F]+ [TDBRVWi] ([^ @]+)")
    list(APPEND names ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT names)
string(REPLACE "," ";" expected "${EXPECTED}")
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY}:\n  ${names}\nexpected:\n  ${expected}")
endif()
message(STATUS "exports: ${names}")
