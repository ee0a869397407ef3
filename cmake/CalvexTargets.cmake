# Shared compile settings for every target of ours.
#
# Floating-point results of the codecs are part of their output and must not change with the
# compiler or its flags: no FMA contraction and no fast-math anywhere in the project.

add_library(calvex_options INTERFACE)
target_compile_options(calvex_options INTERFACE
  -Wall -Wextra -Werror
  -ffp-contract=off -fno-fast-math
  $<$<CONFIG:Release,RelWithDebInfo>:-O2>)

if(CALVEX_SANITIZE)
  target_compile_options(calvex_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(calvex_options INTERFACE -fsanitize=address,undefined)
endif()

# calvex_library(<name> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# A static library of ours whose public headers are reached as "<folder>/<header>.h" from src/.
function(calvex_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC calvex_options ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# calvex_avx2_sources(<file>...) marks files that hold AVX2 kernels; they are only called after
# a run-time CPU check.
function(calvex_avx2_sources)
  set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "-mavx2;-ffp-contract=off")
endfunction()

# calvex_avx512_sources(<file>...) marks files that hold AVX-512 (F, BW, VL) kernels; they are
# only called after a run-time CPU check.
function(calvex_avx512_sources)
  set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS
    "-mavx2;-mavx512f;-mavx512bw;-mavx512vl;-ffp-contract=off")
endfunction()
