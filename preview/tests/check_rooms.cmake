# The preview host's rooms and what each may include: a file in a room may
# include its own room and those listed for it, and of the library only the
# records the renderer shares (shader/renderer.h, shader/parameters.h).
# Fails naming every file that reaches past that, with the include.
cmake_minimum_required(VERSION 3.25)
# progress/ is the record a long step fills in for app/ to show: it stands
# below every room (it knows nothing of meshes or images), so that the steps
# in mesh/, scene/ and render/ report without including anything above them.
set(_allowed_progress "progress")
set(_allowed_mesh "mesh;progress")
set(_allowed_image "image")
set(_allowed_scene "scene;mesh;progress")
set(_allowed_host "host;scene;mesh;progress")
set(_allowed_render "render;host;scene;mesh;image;progress")
set(_allowed_app "app;render;host;scene;mesh;image;progress")
set(_rooms progress mesh image scene host render app)

set(_problems "")
file(GLOB _loose RELATIVE ${PREVIEW_DIR} ${PREVIEW_DIR}/*.h ${PREVIEW_DIR}/*.cpp)
foreach(_file IN LISTS _loose)
  string(APPEND _problems "\n  ${_file}: a source outside every room")
endforeach()
foreach(_room IN LISTS _rooms)
  file(GLOB_RECURSE _files RELATIVE ${PREVIEW_DIR} ${PREVIEW_DIR}/${_room}/*.h
       ${PREVIEW_DIR}/${_room}/*.cpp)
  foreach(_file IN LISTS _files)
    file(STRINGS ${PREVIEW_DIR}/${_file} _includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(_line IN LISTS _includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" _included "${_line}")
      if(_included MATCHES "^preview/([a-z_]+)/")
        set(_target_room ${CMAKE_MATCH_1})
        if(NOT _target_room IN_LIST _allowed_${_room})
          string(APPEND _problems "\n  ${_file}: includes ${_included}, above room ${_room}")
        endif()
      elseif(_included MATCHES "^shader/(renderer|parameters)\\.h$")
        if(_room STREQUAL "mesh" OR _room STREQUAL "image" OR _room STREQUAL "progress")
          # Those rooms know nothing of the plug-in but its parameter block,
          # which the legend reads.
          if(NOT _room STREQUAL "image" OR NOT _included STREQUAL "shader/parameters.h")
            string(APPEND _problems "\n  ${_file}: ${_room}/ may not include ${_included}")
          endif()
        endif()
      else()
        string(APPEND _problems "\n  ${_file}: includes ${_included}, which no room may")
      endif()
    endforeach()
  endforeach()
endforeach()
if(_problems)
  message(FATAL_ERROR "the preview's rooms are crossed:${_problems}")
endif()
message(STATUS "every preview file includes only its own room and the rooms below it")
