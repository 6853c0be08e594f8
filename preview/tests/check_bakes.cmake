# Bakes in a fresh FOLDER, as a user runs them. A UDIM bake writes one map per
# tile its texture coordinates reach (1001 and 1022), each with a summary
# line; overlapping islands draw a warning with their share of the texels; a
# vertex bake writes a PLY with its summary line; and a map renders back on
# its model through --texture.
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER})
function(run)
  execute_process(COMMAND ${PREVIEW} ${ARGN} WORKING_DIRECTORY ${FOLDER}
                  RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _result STREQUAL "0")
    message(FATAL_ERROR "${ARGN}: exit status ${_result}; stderr: ${_err}")
  endif()
  set(out "${_out}" PARENT_SCOPE)
  set(err "${_err}" PARENT_SCOPE)
endfunction()

run(--mesh ${DATA}/uv_udim.obj --bake texture --udim --size 32 --spp 1 --output map.png)
foreach(_tile 1001 1022)
  if(NOT EXISTS ${FOLDER}/map.${_tile}.png)
    message(FATAL_ERROR "map.${_tile}.png was not written; stdout: ${out}")
  endif()
  if(NOT out MATCHES "map.${_tile}.png: 32 x 32 texels in [0-9.]+ s, [0-9.]+% covered, [0-9]+ padded; ")
    message(FATAL_ERROR "no summary line for map.${_tile}.png; stdout: ${out}")
  endif()
endforeach()
file(GLOB _written ${FOLDER}/*)
list(LENGTH _written _count)
if(NOT _count EQUAL 2)
  message(FATAL_ERROR "expected two maps, found: ${_written}")
endif()

run(--mesh ${DATA}/uv_overlap.obj --bake texture --size 16 --output overlap.exr)
if(NOT err MATCHES "warning: overlap.exr: 50.00% of the covered texels lie under more than one triangle")
  message(FATAL_ERROR "no overlap warning; stderr: ${err}")
endif()

run(--scene torus --bake vertices --tessellation 16 --output torus.ply)
if(NOT out MATCHES "torus.ply: 128 vertices, 256 faces in [0-9.]+ s, 0 without an estimate; measure ")
  message(FATAL_ERROR "no summary line for torus.ply; stdout: ${out}")
endif()

run(--mesh ${DATA}/uv_udim.obj --texture map.1001.png --width 32 --height 24 --output back.png)
if(NOT EXISTS ${FOLDER}/back.png OR NOT out MATCHES "back.png: 32 x 24 in [0-9.]+ s, ")
  message(FATAL_ERROR "the textured render failed; stdout: ${out}")
endif()

# A bake by method 0 or 1 leaves the scene's BVH out; one by method 2 traces
# probe rays and must still have it: without, every probe misses and the
# map reads flat (a measure of 0 everywhere) with no error.
run(--scene torus --bake texture --method 2 --size 16 --spp 1 --output probes.png)
if(NOT out MATCHES "probes.png: 16 x 16 texels in [0-9.]+ s, 100.0% covered, 0 padded; measure 2nd/50th/98th percentile [0-9.]+ / 0\\.[5-7][0-9]* / ")
  message(FATAL_ERROR "the method 2 bake does not read the torus's curvature; stdout: ${out}")
endif()
