# The reference-database cache.
ku_add_test(test_db_cache SOURCES test_db_cache.cpp LIBS ku_reference)
