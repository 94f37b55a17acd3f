ku_add_test(test_sim SOURCES test_sim.cpp LIBS ku_sim)
# The program tests run the built ku-sim.
add_dependencies(test_sim ku-sim)
