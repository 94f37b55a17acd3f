# Reference values: number text, the refresh, the database lookups.
ku_add_test(test_number_text SOURCES test_number_text.cpp LIBS ku_reference)
ku_add_test(test_refval SOURCES test_refval.cpp LIBS ku_reference)
ku_add_test(test_lookups SOURCES test_lookups.cpp LIBS ku_reference)
