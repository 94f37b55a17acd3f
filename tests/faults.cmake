# Fault injection against ku-sim (the unit misbehaving, the device going away,
# odd settings files), and the soak runs.
#
# A flood on a pseudo-terminal and a 100 MB settings file load the machine
# enough to stall other exchanges past the unit's 30 ms value timeout, so those
# tests and the soak's commands never run at the same time (one resource lock).
# So do ten kuctl runs at once against ten units with another talker.
set(KU_HEAVY_FAULTS "*Flood*:*HundredMegabyte*:*AnotherTalker*")

add_executable(test_faults test_faults.cpp)
target_link_libraries(test_faults PRIVATE ku_testsupport GTest::gtest GTest::gtest_main ku_cli ku_sim
                                          Qt6::SerialPort)
add_dependencies(test_faults kuctl)
ku_discover_tests(test_faults FILTER "-${KU_HEAVY_FAULTS}" LABELS e2e)
ku_discover_tests(test_faults FILTER "${KU_HEAVY_FAULTS}" LABELS e2e LOCK ku_line_timing)

# Soak: part of the normal suite (label soak). The 100,000-refresh run has its
# own label, soak-long, and runs only with KU_SOAK_LONG=1:
#   KU_SOAK_LONG=1 ctest -L soak-long --output-on-failure
add_executable(test_soak test_soak.cpp)
target_link_libraries(test_soak PRIVATE ku_testsupport GTest::gtest GTest::gtest_main ku_app ku_sim
                                        Qt6::SerialPort)
ku_discover_tests(test_soak FILTER "Soak.*Commands*" LABELS soak LOCK ku_line_timing)
ku_discover_tests(test_soak FILTER "Soak.*:-Soak.*Commands*" LABELS soak)
ku_discover_tests(test_soak FILTER "SoakLong.*" LABELS soak-long)
