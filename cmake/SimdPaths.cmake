# caldrith_add_simd_paths(<target> <source>...): compiles the sources once per
# vector path of the batch kernels and adds the objects to <target>. Each copy
# gets its path's instruction-set flags and the definitions
# CALDRITH_SIMD_PATH (the namespace of that copy) and CALDRITH_SIMD_WIDTH
# (doubles per vector). The flags select instructions only: -mfma is never
# among them, and -ffp-contract=off holds for every copy, so no path fuses a
# multiply-add. On x86-64, <target> gets CALDRITH_X86_SIMD_PATHS; on other
# processors no copy is built and only the scalar path exists.
function(caldrith_add_simd_paths target)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    return()
  endif()
  set(flags_sse2 -msse2)
  set(width_sse2 2)
  set(flags_avx2 -mavx2)
  set(width_avx2 4)
  # AVX-512 on 256-bit vectors: its mask registers, compares and 64-bit
  # conversions, with 4 lanes. The kernels are bound by square roots and
  # divisions, which run no more elements per second on 8 lanes, while the
  # 8-lane loops carry more lanes that have already converged: 4 lanes are
  # faster.
  set(flags_avx512 -mavx512f -mavx512dq -mavx512vl)
  set(width_avx512 4)
  foreach(path IN ITEMS sse2 avx2 avx512)
    set(objects ${target}_${path})
    add_library(${objects} OBJECT ${ARGN})
    target_link_libraries(${objects} PRIVATE caldrith_common)
    target_compile_definitions(${objects} PRIVATE
      CALDRITH_SIMD_PATH=${path} CALDRITH_SIMD_WIDTH=${width_${path}})
    target_compile_options(${objects} PRIVATE ${flags_${path}} -mno-fma -ffp-contract=off)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${objects}>)
  endforeach()
  target_compile_definitions(${target} PRIVATE CALDRITH_X86_SIMD_PATHS)
endfunction()
