# The diagnostics: the logging categories of the link, the reference lookups, the
# controller and kuctl (the window layer's are in ui.cmake).
ku_add_test(test_log SOURCES test_log.cpp LIBS ku_link ku_cli)
