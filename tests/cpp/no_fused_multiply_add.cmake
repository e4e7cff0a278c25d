# Fails if an object file of the vector paths contains a fused multiply-add
# (vfmadd, vfmsub, vfnmadd, vfnmsub): the batch kernels must round every
# product and every sum as the scalar code does.
#   cmake -DOBJDUMP=<objdump> -DOBJECTS=<a;b;...> -P no_fused_multiply_add.cmake
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${OBJDUMP} -d ${object} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${object}")
  endif()
  string(REGEX MATCH "vf(n)?m(add|sub)[0-9a-z]*" fused "${listing}")
  if(fused)
    message(FATAL_ERROR "${object} contains ${fused}")
  endif()
  string(LENGTH "${listing}" size)
  if(size LESS 1000)
    message(FATAL_ERROR "${object}: no code found")
  endif()
endforeach()
message(STATUS "no fused multiply-add in ${OBJECTS}")
