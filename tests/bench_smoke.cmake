# One benchmark smoke run, so the benchmark cannot stop building or running
# unnoticed: makes a small corpus with bench/make_corpus.sh, runs pack_bench
# over it once with a short minimum time and checks that it ended well and
# printed its summary for both corpora. The speeds are not checked.
#   cmake -DBENCH=exe -DMAKE_CORPUS=script -DWORK=dir -P bench_smoke.cmake
foreach(var BENCH MAKE_CORPUS WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "bench_smoke: ${var} not given")
  endif()
endforeach()
if(NOT EXISTS ${BENCH})
  message(FATAL_ERROR "bench_smoke: ${BENCH} is not built")
endif()

file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND bash ${MAKE_CORPUS} ${WORK}/corpus 65536 RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "bench_smoke: make_corpus.sh failed (${result})")
endif()

execute_process(
  COMMAND ${BENCH} --benchmark_min_time=0.01 ${WORK}/corpus
  OUTPUT_VARIABLE output
  RESULT_VARIABLE result)
file(REMOVE_RECURSE ${WORK})
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "bench_smoke: pack_bench failed (${result})")
endif()
# The summary's row per corpus: name, two speeds, their ratio, two
# compression ratios.
foreach(corpus text binary)
  if(NOT output MATCHES "\n${corpus} +[0-9.]+ +[0-9.]+ +[0-9.]+ +[0-9.]+ +[0-9.]+\n")
    message(FATAL_ERROR "bench_smoke: no summary for the ${corpus} corpus")
  endif()
endforeach()
