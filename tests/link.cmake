ku_add_test(test_comms_ini SOURCES test_comms_ini.cpp LIBS ku_link)
