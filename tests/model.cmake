ku_add_test(test_model SOURCES test_model.cpp LIBS ku_model)
