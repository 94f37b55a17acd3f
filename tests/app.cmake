# The window's logic without widgets: UnitController on the fakes.
ku_add_test(test_unit_controller SOURCES test_unit_controller.cpp LIBS ku_app)
ku_add_test(test_foreign_talker SOURCES test_foreign_talker.cpp LIBS ku_app)
