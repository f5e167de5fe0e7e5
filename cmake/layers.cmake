# Folders are layers: each may include only the folders below it. A library
# does not get the source root as its include directory but a directory of
# its own in the build tree that holds links to just the folders it may use,
# so an include of a higher layer does not compile.
#
# The module's layers, bottom up, each with what it may include besides
# itself (the README's layout table draws them).
set(CORVANE_LAYERS hostapi vecmath index records edit bufmodel context options objectmode pairmode plugin)
set(CORVANE_USES_hostapi)
set(CORVANE_USES_vecmath)
set(CORVANE_USES_index)
set(CORVANE_USES_records hostapi vecmath)
set(CORVANE_USES_edit hostapi vecmath)
set(CORVANE_USES_bufmodel edit index hostapi vecmath)
set(CORVANE_USES_context bufmodel edit index hostapi vecmath)
set(CORVANE_USES_options hostapi)
set(CORVANE_USES_objectmode context bufmodel edit index records options hostapi vecmath)
set(CORVANE_USES_pairmode objectmode context bufmodel edit index records options hostapi vecmath)
set(CORVANE_USES_plugin pairmode objectmode context bufmodel edit index records options hostapi vecmath)

# Around the module: the emulated host and the mesh files share only the
# plain mesh data; one run of the module stands on both, and the programs
# around it (the command line, its viewer, the Python module) on that. The
# program's run and its viewer share cli/common, below both: neither sees
# the other's folder.
set(CORVANE_USES_meshdata)
set(CORVANE_USES_meshgen meshdata)
set(CORVANE_USES_host meshdata hostapi)
set(CORVANE_USES_meshio meshdata)
set(CORVANE_USES_run host meshio meshdata hostapi)
set(CORVANE_USES_cli/common meshio meshdata)
set(CORVANE_USES_cli/preview run host meshio meshdata hostapi)
set(CORVANE_USES_cli/view cli/common run host meshio meshdata hostapi)
set(CORVANE_USES_cli cli/view cli/preview cli/common run host meshio meshdata hostapi)
set(CORVANE_USES_python run host meshio meshdata hostapi)
set(CORVANE_ALL_LAYERS ${CORVANE_LAYERS} meshdata meshgen host meshio run cli/common cli/preview cli/view cli python)

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

# Gives a target the include directory of its layer. Its sources must sit in
# that layer's folder: a target given the layer of another folder (the
# viewer's server compiled as part of the program above it) would see the
# folders of the layers that see its own.
function(corvane_layer target folder)
  corvane_layer_dir(dir ${folder})
  get_target_property(sources ${target} SOURCES)
  get_target_property(base ${target} SOURCE_DIR)
  foreach(src ${sources})
    get_filename_component(path ${src} ABSOLUTE BASE_DIR ${base})
    string(FIND ${path} ${PROJECT_BINARY_DIR}/ in_build)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${path})
    if(in_build EQUAL 0 OR rel MATCHES "^\\.\\./")
      continue()  # generated in the build tree
    endif()
    get_filename_component(src_folder ${rel} DIRECTORY)
    if(NOT src_folder STREQUAL folder)
      message(FATAL_ERROR "${target}: ${rel} is not in the folder of its layer ${folder} (cmake/layers.cmake)")
    endif()
  endforeach()
  target_include_directories(${target} PRIVATE ${dir})
  set_property(GLOBAL APPEND PROPERTY CORVANE_LAYER_TARGETS_${folder} ${target})
  # The headers' check links what the layer's targets link, imported
  # targets among them, which are seen only in the folder that found them.
  get_property(deferred GLOBAL PROPERTY CORVANE_LAYER_DEFERRED_${folder})
  if(NOT deferred)
    set_property(GLOBAL PROPERTY CORVANE_LAYER_DEFERRED_${folder} ON)
    # A deferred call reads its arguments when it runs: pass the name itself.
    cmake_language(EVAL CODE "cmake_language(DEFER CALL corvane_layer_headers [[${folder}]])")
  endif()
endfunction()

# Gives each of the module's sources the include directory of its folder.
function(corvane_layer_sources)
  foreach(src ${ARGN})
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${src})
    string(REGEX REPLACE "/[^/]*$" "" folder ${rel})
    corvane_layer_dir(dir ${folder})
    set_property(SOURCE ${src} APPEND PROPERTY INCLUDE_DIRECTORIES ${dir})
    set_property(GLOBAL APPEND PROPERTY CORVANE_LAYER_BUILT ${folder})
  endforeach()
endfunction()

# Checks the table: each layer uses only layers listed before it in
# CORVANE_ALL_LAYERS, so that no two layers see each other, however many
# steps apart.
function(corvane_layers_check_table)
  set(below)
  foreach(layer ${CORVANE_ALL_LAYERS})
    foreach(used ${CORVANE_USES_${layer}})
      if(NOT used IN_LIST below)
        message(FATAL_ERROR "layer ${layer} uses ${used}, which is not below it (cmake/layers.cmake)")
      endif()
    endforeach()
    list(APPEND below ${layer})
  endforeach()
endfunction()

# Sets `out` to the names of the types layer `folder` owns: those its
# headers define at file scope (a line that opens one: the name, a base
# list and the brace, not a declaration, a template's specialisation or an
# object of the type), and those they declare that its sources define,
# which the layer hands out only by pointer.
function(corvane_layer_types out folder)
  set(name "([A-Za-z_][A-Za-z0-9_]*)")
  set(opens "^(struct|class|union|enum)([ \t]+(class|struct))?[ \t]+${name}[ \t]*(:[^;(<={]*)?({.*)?$")
  file(GLOB headers ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  file(GLOB sources ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  set(types)
  set(defined)
  foreach(file ${headers} ${sources})
    file(STRINGS ${file} lines REGEX "${opens}")
    foreach(line ${lines})
      string(REGEX MATCH "${opens}" line "${line}")
      if(file IN_LIST headers)
        list(APPEND types ${CMAKE_MATCH_4})
      else()
        list(APPEND defined ${CMAKE_MATCH_4})
      endif()
    endforeach()
  endforeach()
  foreach(header ${headers})
    file(STRINGS ${header} lines REGEX "^(struct|class|union)[ \t]+${name}[ \t]*;")
    foreach(line ${lines})
      string(REGEX MATCH "^(struct|class|union)[ \t]+${name}" line "${line}")
      if(CMAKE_MATCH_2 IN_LIST defined)
        list(APPEND types ${CMAKE_MATCH_2})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES types)
  set(${out} ${types} PARENT_SCOPE)
endfunction()

# Compiles each header of layer `folder` on its own, twice over in one unit
# (its include guard), with just the layer's include directory and what the
# layer's targets link. A folder's sources only show the includes they
# reach: a header no source of its layer includes, or a layer of headers
# alone, would otherwise include upward unseen.
#
# A declaration of a type compiles without its header, so a layer could
# still name a type of a layer that uses it (`struct BufModel;` in edit/
# would). Each unit then gives every type of the layers that use this one
# another meaning, which such a declaration conflicts with.
function(corvane_layer_headers folder)
  string(REPLACE "/" "_" name ${folder})
  file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  if(TARGET corvane_headers_${name} OR NOT headers)
    return()
  endif()
  set(above "")
  foreach(layer ${CORVANE_ALL_LAYERS})
    if(folder IN_LIST CORVANE_USES_${layer})
      corvane_layer_types(types ${layer})
      foreach(type ${types})
        string(APPEND above "typedef int ${type};  // a type of ${layer}, which ${folder} may not name\n")
      endforeach()
    endif()
  endforeach()
  set(units)
  foreach(header ${headers})
    string(REPLACE "/" "_" unit ${header})
    set(unit ${PROJECT_BINARY_DIR}/layer-headers/${unit}.cpp)
    file(CONFIGURE OUTPUT ${unit} CONTENT "#include \"${header}\"\n#include \"${header}\"\n${above}")
    list(APPEND units ${unit})
  endforeach()
  add_library(corvane_headers_${name} OBJECT ${units})
  corvane_layer_dir(dir ${folder})
  target_include_directories(corvane_headers_${name} PRIVATE ${dir})
  target_link_libraries(corvane_headers_${name} PRIVATE corvane_flags)
  get_property(targets GLOBAL PROPERTY CORVANE_LAYER_TARGETS_${folder})
  foreach(target ${targets})
    get_target_property(libs ${target} LINK_LIBRARIES)
    get_target_property(dirs ${target} INCLUDE_DIRECTORIES)
    if(libs)
      target_link_libraries(corvane_headers_${name} PRIVATE ${libs})
    endif()
    if(dirs)
      target_include_directories(corvane_headers_${name} PRIVATE ${dirs})
    endif()
  endforeach()
endfunction()

# The headers of the module's layers and of the layers of headers alone,
# once the whole tree is read, and the table. A layer with sources but no
# target in this build (the Python module when it is off) is left out.
function(corvane_layers_check)
  corvane_layers_check_table()
  get_property(built GLOBAL PROPERTY CORVANE_LAYER_BUILT)
  foreach(layer ${CORVANE_ALL_LAYERS})
    file(GLOB sources ${PROJECT_SOURCE_DIR}/${layer}/*.c ${PROJECT_SOURCE_DIR}/${layer}/*.cpp)
    if(NOT sources OR layer IN_LIST built)
      corvane_layer_headers(${layer})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL corvane_layers_check)
