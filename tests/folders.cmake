ku_add_test(test_folders SOURCES test_folders.cpp LIBS ku_app)
