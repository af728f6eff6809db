# One short fuzz run as a test: the seed corpus and the inputs of past findings are run
# first, then 20000 fuzzed inputs. What the run adds goes to a scratch corpus made afresh
# each time, so the repository's corpus never grows.
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/corpus" "${SCRATCH}/findings")
set(args -runs=20000 -seed=1 -artifact_prefix=${SCRATCH}/findings/)
if(DICT)
  list(APPEND args -dict=${DICT})
endif()
if(MAX_LEN)
  list(APPEND args -max_len=${MAX_LEN})
endif()
# A target without findings has no folder of them.
set(inputs "${SCRATCH}/corpus")
foreach(folder IN ITEMS "${CORPUS}" "${REGRESSIONS}")
  if(IS_DIRECTORY "${folder}")
    list(APPEND inputs "${folder}")
  endif()
endforeach()
execute_process(COMMAND "${FUZZER}" ${args} ${inputs} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a fault (exit ${result}); its input is in ${SCRATCH}/findings")
endif()
