ku_add_test(test_entry SOURCES test_entry.cpp LIBS ku_entry)
