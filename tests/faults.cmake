# Fault injection against ku-sim (the unit misbehaving, the device going away,
# odd settings files).
ku_add_test(test_faults SOURCES test_faults.cpp LIBS ku_cli ku_sim Qt6::SerialPort LABELS e2e)
add_dependencies(test_faults kuctl)

# Soak: part of the normal suite (label soak). The 100,000-refresh run has its
# own label, soak-long, and runs only with KU_SOAK_LONG=1:
#   KU_SOAK_LONG=1 ctest -L soak-long --output-on-failure
add_executable(test_soak test_soak.cpp)
target_link_libraries(test_soak PRIVATE ku_testsupport GTest::gtest GTest::gtest_main ku_app ku_sim
                                        Qt6::SerialPort)
gtest_discover_tests(test_soak TEST_FILTER "-SoakLong.*" DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS soak ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
gtest_discover_tests(test_soak TEST_FILTER "SoakLong.*" DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS soak-long ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
