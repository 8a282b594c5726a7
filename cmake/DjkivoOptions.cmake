# Warnings, -Werror and sanitizer flags for every target of the project.
add_compile_options(-Wall -Wextra -Wshadow -Woverloaded-virtual)
if(DJKIVO_WERROR)
  add_compile_options(-Werror)
endif()
# GCC 12 at -O3 gives false flow-based warnings inside the standard library (std::string's
# replace, std::copy of a whole array: GCC bugs 105329, 105651), which would stop the release
# build that scripts/bench makes. They stay warnings there; the normal build keeps them errors.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  add_compile_options($<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>
                      $<$<CXX_COMPILER_ID:GNU>:-Wno-error=array-bounds>
                      $<$<CXX_COMPILER_ID:GNU>:-Wno-error=stringop-overflow>
                      $<$<CXX_COMPILER_ID:GNU>:-Wno-error=maybe-uninitialized>)
endif()

if(DJKIVO_SANITIZE STREQUAL "address")
  set(_djkivo_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(DJKIVO_SANITIZE STREQUAL "thread")
  set(_djkivo_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT DJKIVO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "DJKIVO_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_djkivo_san)
  # GCC 12 gives false "may be used uninitialized" and "restrict" warnings inside the standard
  # library once sanitizer instrumentation is on; the normal build keeps the warning.
  add_compile_options(${_djkivo_san} $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>
                      $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  add_link_options(${_djkivo_san})
  # -O1, as the sanitizers' authors advise, and line tables only (-g1): every frame of a report
  # still names its function, file and line, and the build takes about half the time of -O2 -g.
  add_compile_options(-O1 -g1)
endif()

# Fuzz builds instrument every library for coverage; only the fuzz targets link libFuzzer.
if(DJKIVO_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()
