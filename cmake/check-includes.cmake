# Rejects includes that name a file by where it sits rather than by its
# layer: a path with ".." in it, or an absolute one. The quoted form looks
# beside the including file first, so `#include "../plugin/activate.h"`
# compiles in any layer whatever include directories the build gives it.
#
#   cmake -DROOT=<tree> -P cmake/check-includes.cmake
#
# Reads the C and C++ sources below ROOT, leaving out build trees (build*),
# node_modules and hidden folders; fails naming each such include.
if(NOT DEFINED ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<tree> -P check-includes.cmake")
endif()

file(GLOB tops RELATIVE ${ROOT} ${ROOT}/*)
set(files)
foreach(top ${tops})
  if(top MATCHES "^(build.*|node_modules|\\..*)$")
    continue()
  endif()
  if(IS_DIRECTORY ${ROOT}/${top})
    file(GLOB_RECURSE found ${ROOT}/${top}/*.h ${ROOT}/${top}/*.hpp ${ROOT}/${top}/*.c
         ${ROOT}/${top}/*.cc ${ROOT}/${top}/*.cpp ${ROOT}/${top}/*.inc)
    list(APPEND files ${found})
  elseif(top MATCHES "\\.(h|hpp|c|cc|cpp|inc)$")
    list(APPEND files ${ROOT}/${top})
  endif()
endforeach()

set(bad 0)
foreach(file ${files})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
  if(NOT lines)
    continue()
  endif()
  foreach(line ${lines})
    if(line MATCHES "#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"]")
      set(name ${CMAKE_MATCH_1})
      if(name MATCHES "(^|/)\\.\\.(/|$)" OR name MATCHES "^/")
        file(RELATIVE_PATH rel ${ROOT} ${file})
        message("${rel}: #include \"${name}\": name the file from the tree's root (folder/file.h), "
                "as its layer's include directory offers it")
        math(EXPR bad "${bad} + 1")
      endif()
    endif()
  endforeach()
endforeach()
if(bad GREATER 0)
  message(FATAL_ERROR "${bad} include(s) reach past the layers")
endif()
list(LENGTH files count)
message(STATUS "${count} sources, every include named by layer")
