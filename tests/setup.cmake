ku_add_test(test_setup_file SOURCES test_setup_file.cpp LIBS ku_app)
ku_add_test(test_backups SOURCES test_backups.cpp LIBS ku_app)
