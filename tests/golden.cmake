# kuctl's output, messages, exit status and the bytes the simulated unit received,
# for a set of scenarios, against the snapshot kept in golden/expected.
add_test(NAME Golden.KuctlAgainstSimulatedUnit
         COMMAND ${CMAKE_COMMAND}
                 -DSCRIPT=${CMAKE_CURRENT_SOURCE_DIR}/golden/run_golden.sh
                 -DBIN_DIR=${CMAKE_BINARY_DIR}/bin
                 -DOUT_DIR=${CMAKE_CURRENT_BINARY_DIR}/golden-actual
                 -DEXPECTED_DIR=${CMAKE_CURRENT_SOURCE_DIR}/golden/expected
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/golden/compare.cmake)
set_tests_properties(Golden.KuctlAgainstSimulatedUnit PROPERTIES LABELS e2e TIMEOUT 240
                     ENVIRONMENT "${KU_TEST_STATE}")
