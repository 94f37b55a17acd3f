ku_add_test(test_setup_file SOURCES test_setup_file.cpp LIBS ku_app)
# The first two entries of its environment are checked by the test itself.
ku_add_test(test_backups SOURCES test_backups.cpp LIBS ku_app
            ENV KU_TEST_RUNNER=ctest "KU_TEST_SECOND_ENTRY=second entry")
ku_add_test(test_safeguards SOURCES test_safeguards.cpp LIBS ku_app)
ku_add_test(test_setup_controller SOURCES test_setup_controller.cpp LIBS ku_app)
ku_add_test(test_e2e_setups SOURCES test_e2e_setups.cpp LIBS ku_app ku_sim LABELS e2e
            LOCK ku_line_timing)
add_dependencies(test_e2e_setups kuctl)
