# The include check of the library's layers. Each folder of quarn/ may include headers of
# its own folder, of the folders it links (QUARN_LAYER_<folder>, written by quarn_check_layers)
# and of theirs in turn, and quarn/quarn.h, the application's header, which only declares.
# Any other "quarn/<folder>/..." include runs upward or sideways and fails. Inside a folder,
# a sub-folder (a render back end in quarn/graphics/) includes nothing of its sibling
# sub-folders: each stands on the folder's own headers alone. Nor does anything outside a
# render back end include its headers: the front end reaches a back end through its table
# (render_backend.h). The files named in quarn_backend_include_exceptions are left: the
# device restart, which puts the whole device state back, the models' device buffers, which
# only the device has, and the screen, whose draw-target change sets the camera on either
# renderer.
#
# Included at configure time, or run as a script:
#   cmake -DQUARN_ROOT=<project> -DQUARN_LAYER_FILE=<build>/quarn_layers.cmake -P CheckLayers.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()
include(${QUARN_LAYER_FILE})

# The folders a folder may include: itself and everything it links, transitively.
function(quarn_layers_below folder out)
  set(seen ${folder})
  set(queue ${QUARN_LAYER_${folder}})
  while(queue)
    list(POP_FRONT queue next)
    if(NOT next IN_LIST seen)
      list(APPEND seen ${next})
      list(APPEND queue ${QUARN_LAYER_${next}})
    endif()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

set(quarn_backend_include_exceptions quarn/runtime/screen.cpp quarn/model/model_buffers.cpp
  quarn/graphics/screen_win.cpp)

set(quarn_layer_faults "")
file(GLOB quarn_layer_dirs LIST_DIRECTORIES true ${QUARN_ROOT}/quarn/*)
foreach(dir ${quarn_layer_dirs})
  if(NOT IS_DIRECTORY ${dir})
    continue()
  endif()
  get_filename_component(folder ${dir} NAME)
  if(NOT folder IN_LIST QUARN_LAYERS)
    string(APPEND quarn_layer_faults "  quarn/${folder}/ has no library in the layer order\n")
    continue()
  endif()
  quarn_layers_below(${folder} allowed)
  file(GLOB_RECURSE sources ${dir}/*.h ${dir}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"quarn/")
    file(RELATIVE_PATH rel ${QUARN_ROOT} ${source})
    # The sub-folder the source lies in, if any.
    set(own "")
    if(rel MATCHES "^quarn/${folder}/([^/]+)/")
      set(own ${CMAKE_MATCH_1})
    endif()
    foreach(line ${lines})
      if(line MATCHES "\"quarn/([^/\"]+)/")
        set(target ${CMAKE_MATCH_1})
        if(NOT target IN_LIST allowed)
          string(APPEND quarn_layer_faults "  ${rel} includes quarn/${target}/ above or beside quarn/${folder}/\n")
        endif()
      endif()
      if(line MATCHES "\"quarn/graphics/([^/\"]+)/")
        set(backend ${CMAKE_MATCH_1})
        if(NOT rel MATCHES "^quarn/graphics/${backend}/" AND NOT rel IN_LIST quarn_backend_include_exceptions)
          string(APPEND quarn_layer_faults "  ${rel} includes the render back end quarn/graphics/${backend}/\n")
        endif()
      endif()
      if(NOT own STREQUAL "")
        if(line MATCHES "\"quarn/${folder}/([^/\"]+)/" AND NOT CMAKE_MATCH_1 STREQUAL own)
          string(APPEND quarn_layer_faults "  ${rel} includes quarn/${folder}/${CMAKE_MATCH_1}/ beside quarn/${folder}/${own}/\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(quarn_layer_faults)
  message(FATAL_ERROR "Includes against the library's layer order:\n${quarn_layer_faults}")
endif()
