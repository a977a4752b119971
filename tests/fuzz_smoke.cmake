# One fuzz smoke run: copies the seed corpus into a work folder (the fuzzer
# writes new inputs there, never into the repository), runs the fuzzer for a
# few seconds, keeps any crashing input under ARTIFACTS.
#   cmake -DFUZZER=exe -DCORPUS=dir -DWORK=dir -DARTIFACTS=dir -DSECONDS=n -P fuzz_smoke.cmake
foreach(var FUZZER CORPUS WORK ARTIFACTS SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "fuzz_smoke: ${var} not given")
  endif()
endforeach()
if(NOT EXISTS ${FUZZER})
  message(FATAL_ERROR "fuzz_smoke: ${FUZZER} is not built")
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${ARTIFACTS})
if(IS_DIRECTORY ${CORPUS})
  file(GLOB seeds ${CORPUS}/*)
  if(seeds)
    file(COPY ${seeds} DESTINATION ${WORK}/corpus)
  endif()
endif()
get_filename_component(name ${FUZZER} NAME)

execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -artifact_prefix=${ARTIFACTS}/${name}- ${WORK}/corpus
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE result)
file(REMOVE_RECURSE ${WORK})
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzz_smoke: ${name} failed (${result}); crashing input under ${ARTIFACTS}")
endif()
