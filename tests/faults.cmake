# Fault injection against ku-sim (the unit misbehaving, the device going away,
# odd settings files).
ku_add_test(test_faults SOURCES test_faults.cpp LIBS ku_cli ku_sim Qt6::SerialPort LABELS e2e)
add_dependencies(test_faults kuctl)
