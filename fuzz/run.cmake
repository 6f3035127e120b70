# Fuzzes one target for $ENV{FUZZ_SECONDS} seconds (default 6): new inputs
# go to WORK/corpus, the seeds in SEEDS are read too, a crashing input is
# kept as WORK/crash-*. Any finding fails, with the end of the log shown.
#   cmake -DTARGET=fuzzer -DSEEDS=dir -DWORK=dir -P run.cmake
set(seconds "$ENV{FUZZ_SECONDS}")
if(seconds STREQUAL "")
  set(seconds 6)
endif()
file(MAKE_DIRECTORY ${WORK}/corpus)
execute_process(COMMAND ${TARGET} -max_total_time=${seconds} -timeout=10 -rss_limit_mb=2048
                        -artifact_prefix=${WORK}/ ${WORK}/corpus ${SEEDS}
                RESULT_VARIABLE status OUTPUT_FILE ${WORK}/log ERROR_FILE ${WORK}/log)
file(READ ${WORK}/log log)
if(NOT status EQUAL 0)
  string(LENGTH "${log}" length)
  set(from 0)
  if(length GREATER 3000)
    math(EXPR from "${length} - 3000")
  endif()
  string(SUBSTRING "${log}" ${from} -1 tail)
  message(FATAL_ERROR "${TARGET}: finding (log ${WORK}/log):\n${tail}")
endif()
string(REGEX MATCH "Done [0-9]+ runs" runs "${log}")
message("${TARGET}: clean (${runs})")
