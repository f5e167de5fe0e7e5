# Shows that each way around the layers fails, on a small tree made here:
#   - an include by a relative path, which check-includes.cmake rejects;
#   - a layer of headers alone including upward, which the header units of
#     layers.cmake fail to compile though every source compiles;
#   - a layer declaring a type of a layer above it, which compiles without
#     that layer's header;
#   - two layers that see each other: a table where a layer uses one above
#     it, or a target given the layer of a folder that is not its own.
# The same tree without the escape must build, so that each failure is the
# escape's and not the tree's.
#
#   cmake -DSOURCE=<corvane tree> -DWORK=<scratch folder> -DGENERATOR=<name>
#         -DCXX=<compiler> -P cmake/check-layer-escapes.cmake
cmake_minimum_required(VERSION 3.16...3.25)
foreach(var SOURCE WORK GENERATOR CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check-layer-escapes.cmake needs -D${var}=...")
  endif()
endforeach()

set(tree ${WORK}/tree)
set(build ${WORK}/build)
file(REMOVE_RECURSE ${WORK})

# Runs a command; `rc` and `out` (stdout and stderr) in the caller.
macro(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
endmacro()

function(expect_failure what pattern)
  if(rc EQUAL 0)
    message(FATAL_ERROR "${what} went through:\n${out}")
  endif()
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "${what} failed, but not saying /${pattern}/:\n${out}")
  endif()
  message(STATUS "${what}: refused")
endfunction()

# ---- a relative include
file(WRITE ${tree}/objectmode/walk.cpp "#include \"../plugin/activate.h\"\n")
run(${CMAKE_COMMAND} -DROOT=${tree} -P ${SOURCE}/cmake/check-includes.cmake)
expect_failure("a relative include" "objectmode/walk.cpp: #include \"\\.\\./plugin/activate.h\"")
file(REMOVE_RECURSE ${tree})

# ---- three layers: `low`, headers alone; `mid`, a library; `high`, on both.
# Only high's source includes low.h, so an upward include in low.h compiles
# there.
file(WRITE ${tree}/CMakeLists.txt "cmake_minimum_required(VERSION 3.16...3.25)
project(LayerEscapes CXX)
add_library(corvane_flags INTERFACE)
include(${SOURCE}/cmake/layers.cmake)
set(CORVANE_ALL_LAYERS low mid high)
set(CORVANE_USES_low)
set(CORVANE_USES_mid)
set(CORVANE_USES_high mid low)
add_library(mid STATIC mid/mid.cpp)
corvane_layer(mid mid)
add_library(high STATIC high/high.cpp)
corvane_layer(high high)
include(\${PROJECT_SOURCE_DIR}/escape.cmake OPTIONAL)
")
set(low_h "#ifndef LOW_H\n#define LOW_H\nstruct Low { int n; };\n#endif\n")
file(WRITE ${tree}/low/low.h "${low_h}")
file(WRITE ${tree}/mid/mid.h "#ifndef MID_H\n#define MID_H\nint Mid(int n);\n#endif\n")
file(WRITE ${tree}/mid/mid.cpp "#include \"mid/mid.h\"\nint Mid(int n) { return n + 1; }\n")
file(WRITE ${tree}/high/high.h "#ifndef HIGH_H\n#define HIGH_H\nstruct Tally { int n; };\nint High();\n#endif\n")
file(WRITE ${tree}/high/high.cpp
     "#include \"high/high.h\"\n#include \"low/low.h\"\n#include \"mid/mid.h\"\nint High() { return Mid(Low{1}.n); }\n")

run(${CMAKE_COMMAND} -S ${tree} -B ${build} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX})
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the tree without an escape does not configure:\n${out}")
endif()
run(${CMAKE_COMMAND} --build ${build})
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the tree without an escape does not build:\n${out}")
endif()

# ---- a header-only layer including upward
file(WRITE ${tree}/low/low.h "#include \"mid/mid.h\"\n${low_h}")
run(${CMAKE_COMMAND} --build ${build})
expect_failure("a header-only layer including upward" "low_low\\.h\\.cpp.*mid/mid\\.h")
file(WRITE ${tree}/low/low.h "${low_h}")

# ---- a header-only layer declaring a type of the layer above it
file(WRITE ${tree}/low/low.h "struct Tally;\n${low_h}")
run(${CMAKE_COMMAND} --build ${build})
expect_failure("a layer declaring a type of one above it" "low_low\\.h\\.cpp.*Tally.*a type of high")
file(WRITE ${tree}/low/low.h "${low_h}")

# ---- a layer that uses one above it in the table
file(WRITE ${tree}/escape.cmake "set(CORVANE_USES_low mid)\n")
run(${CMAKE_COMMAND} ${build})
expect_failure("a layer using one above it" "layer low uses mid, which is not below it")

# ---- a target given the layer of another folder
file(WRITE ${tree}/escape.cmake "add_library(mid_up STATIC mid/mid.cpp)\ncorvane_layer(mid_up high)\n")
run(${CMAKE_COMMAND} ${build})
expect_failure("a target given another folder's layer" "mid_up: mid/mid\\.cpp is not in the folder of its layer high")

file(REMOVE_RECURSE ${WORK})
