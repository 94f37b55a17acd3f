# Reference values: number text, the refresh, the database lookups.
ku_add_test(test_number_text SOURCES test_number_text.cpp LIBS ku_reference)
ku_add_test(test_reference_values SOURCES test_reference_values.cpp LIBS ku_reference)
ku_add_test(test_lookups SOURCES test_lookups.cpp LIBS ku_reference)
