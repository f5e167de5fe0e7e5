# Warnings and floating-point flags for every target of the project, carried
# by one interface target instead of global settings.
add_library(corvane_flags INTERFACE)
target_compile_features(corvane_flags INTERFACE cxx_std_17)
target_compile_options(corvane_flags INTERFACE
  -Wall -Wextra
  # Results must be bit-for-bit the same on every target: no fused
  # multiply-add contraction, and never fast-math.
  -ffp-contract=off
  -fno-fast-math
  # sqrt gives the same correctly rounded result either way; without errno
  # it is a single instruction instead of a call path.
  -fno-math-errno)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$" OR CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The x87 unit's extended precision would change results on 32-bit x86.
  target_compile_options(corvane_flags INTERFACE -msse2 -mfpmath=sse)
endif()
if(CORVANE_WERROR)
  target_compile_options(corvane_flags INTERFACE -Werror)
endif()

# Sanitizer build of everything (tests included): -DCORVANE_SANITIZE=ON.
option(CORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(CORVANE_SANITIZE)
  set(_corvane_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(corvane_flags INTERFACE ${_corvane_san})
  target_link_options(corvane_flags INTERFACE ${_corvane_san})
endif()
