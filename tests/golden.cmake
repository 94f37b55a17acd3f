# kuctl's output, messages, exit status and the bytes the simulated unit received,
# for a set of scenarios, against the snapshot kept in golden/expected.
add_test(NAME Golden.KuctlAgainstSimulatedUnit
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/golden/compare.sh
                 ${CMAKE_CURRENT_SOURCE_DIR}/golden/run_golden.sh ${CMAKE_BINARY_DIR}/bin
                 ${CMAKE_CURRENT_BINARY_DIR}/golden-actual
                 ${CMAKE_CURRENT_SOURCE_DIR}/golden/expected)
# The unit takes value bytes within 30 ms: kept apart from the other line-timing tests.
set_tests_properties(Golden.KuctlAgainstSimulatedUnit PROPERTIES LABELS e2e TIMEOUT 400
                     RESOURCE_LOCK ku_line_timing ENVIRONMENT "${KU_TEST_STATE}")
