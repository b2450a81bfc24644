# Runs one libFuzzer target for a short while over a fresh copy of its seed
# corpus: libFuzzer adds inputs to the folder it is given, and the seeds in
# the source tree must stay as committed. Any crash, leak or sanitizer report
# ends the fuzzer with a non-zero status, which fails the test.
#   cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DSECONDS=... -P run_fuzz_smoke.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)
execute_process(
  COMMAND ${FUZZER} ${WORK}/corpus
          -max_total_time=${SECONDS}
          -timeout=10
          -rss_limit_mb=2048
          -print_final_stats=1
          -artifact_prefix=${WORK}/artifacts/
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); inputs in ${WORK}/artifacts")
endif()
