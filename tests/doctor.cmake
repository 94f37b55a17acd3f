ku_add_test(test_connection_check SOURCES test_connection_check.cpp LIBS ku_sim Qt6::SerialPort
            LABELS e2e)
# The no-permission case runs kuctl as another user.
add_dependencies(test_connection_check kuctl)
# The README's examples of every verdict, as scripts/doctor-examples makes them.
add_test(NAME Doctor.ReadmeExamplesAreCurrent
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/doctor-examples --check ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(Doctor.ReadmeExamplesAreCurrent PROPERTIES LABELS e2e TIMEOUT 120)
