ku_add_test(test_folders SOURCES test_folders.cpp LIBS ku_app)
ku_add_test(test_serial_ports SOURCES test_serial_ports.cpp LIBS ku_app)
