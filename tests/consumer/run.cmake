# Installs the built project into a prefix under the build tree, builds a
# small host against find_package(SRF) and runs it.
file(REMOVE_RECURSE ${SRF_WORK_DIR})
set(prefix ${SRF_WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${SRF_BINARY_DIR} --prefix ${prefix} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SRF_CONSUMER_DIR} -B ${SRF_WORK_DIR}/build
                        -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${SRF_WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed: ${rc}")
endif()
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
execute_process(COMMAND ${SRF_WORK_DIR}/build/consumer RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the consumer failed: ${rc}")
endif()

# Internal headers stay out of the installed headers and SRF/SRF.h.
foreach(header SRF_ScratchFloats.h)
  if(EXISTS ${prefix}/include/SRF/${header})
    message(FATAL_ERROR "the internal header ${header} was installed")
  endif()
endforeach()
file(READ ${prefix}/include/SRF/SRF.h umbrella)
if(umbrella MATCHES "SRF_ScratchFloats")
  message(FATAL_ERROR "SRF/SRF.h names an internal header")
endif()

# The installed tool finds its libraries by itself: no loader path is set.
if(SRF_EXAMPLE)
  unset(ENV{LD_LIBRARY_PATH})
  execute_process(COMMAND ${prefix}/bin/srf info ${SRF_EXAMPLE}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "the installed srf info failed (${rc}): ${err}")
  endif()
  if(NOT out MATCHES "SRF_SumBSDF")
    message(FATAL_ERROR "the installed srf info printed no BSDF tree:\n${out}${err}")
  endif()
  # Without a shader it renders the installed example, not the source tree's.
  execute_process(COMMAND ${prefix}/bin/srf render --size 8 --spp 1 -o ${SRF_WORK_DIR}/default.png
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc OR NOT "${out}${err}" MATCHES "${prefix}/share/srf/examples/plastic.kal")
    message(FATAL_ERROR "the installed srf render did not render the installed example (${rc}):\n${out}${err}")
  endif()
endif()
