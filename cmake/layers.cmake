# Folders are layers: each may include only the folders below it. A library
# does not get the source root as its include directory but a directory of
# its own in the build tree that holds links to just the folders it may use,
# so an include of a higher layer does not compile.
#
# The module's layers, bottom up, each with what it may include besides
# itself (the README's layout table draws them).
set(CORVANE_LAYERS hostapi vecmath index records edit bufmodel options objectmode pairmode plugin)
set(CORVANE_USES_hostapi)
set(CORVANE_USES_vecmath)
set(CORVANE_USES_index)
set(CORVANE_USES_records hostapi vecmath)
set(CORVANE_USES_edit hostapi vecmath)
set(CORVANE_USES_bufmodel edit index hostapi vecmath)
set(CORVANE_USES_options hostapi)
set(CORVANE_USES_objectmode bufmodel edit index records options hostapi vecmath)
set(CORVANE_USES_pairmode objectmode bufmodel edit index records options hostapi vecmath)
set(CORVANE_USES_plugin pairmode objectmode bufmodel edit index records options hostapi vecmath)

# Around the module: the emulated host and the mesh files share only the
# plain mesh data; one run of the module stands on both, and the programs
# around it (the command line, its viewer, the Python module) on that.
set(CORVANE_USES_meshdata)
set(CORVANE_USES_meshgen meshdata)
set(CORVANE_USES_host meshdata hostapi)
set(CORVANE_USES_meshio meshdata)
set(CORVANE_USES_run host meshio meshdata hostapi)
set(CORVANE_USES_cli/preview run host meshio meshdata hostapi)
set(CORVANE_USES_cli/view run host meshio meshdata hostapi)
set(CORVANE_USES_cli cli/view cli/preview run host meshio meshdata hostapi)
set(CORVANE_USES_python run host meshio meshdata hostapi)
set(CORVANE_ALL_LAYERS ${CORVANE_LAYERS} meshdata meshgen host meshio run cli/preview cli/view cli python)

file(REMOVE_RECURSE ${PROJECT_BINARY_DIR}/layers)

# Sets `out` to the include directory of layer `folder`: links to the folder
# itself and to each folder it uses.
function(corvane_layer_dir out folder)
  string(REPLACE "/" "_" name ${folder})
  set(dir ${PROJECT_BINARY_DIR}/layers/${name})
  if(NOT folder IN_LIST CORVANE_ALL_LAYERS)
    message(FATAL_ERROR "${folder} is not a layer (cmake/layers.cmake)")
  endif()
  foreach(used ${folder} ${CORVANE_USES_${folder}})
    if(NOT EXISTS ${dir}/${used})
      get_filename_component(parent ${dir}/${used} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${used} ${dir}/${used} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# Gives a target the include directory of its layer.
function(corvane_layer target folder)
  corvane_layer_dir(dir ${folder})
  target_include_directories(${target} PRIVATE ${dir})
endfunction()

# Gives each of the module's sources the include directory of its folder.
function(corvane_layer_sources)
  foreach(src ${ARGN})
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${src})
    string(REGEX REPLACE "/[^/]*$" "" folder ${rel})
    corvane_layer_dir(dir ${folder})
    set_property(SOURCE ${src} APPEND PROPERTY INCLUDE_DIRECTORIES ${dir})
  endforeach()
endfunction()
