ku_add_test(test_comms_ini SOURCES test_comms_ini.cpp LIBS ku_link)
ku_add_test(test_link SOURCES test_link.cpp LIBS ku_link)
ku_add_test(test_qt_serial_port SOURCES test_qt_serial_port.cpp LIBS ku_link Qt6::Core Qt6::SerialPort util)
ku_add_test(test_record_check SOURCES test_record_check.cpp LIBS ku_link)
