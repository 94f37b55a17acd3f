# The fuzz targets' regression corpora, replayed in every build: each target's
# source is built again with a small main that feeds it every file of its corpus
# (no libFuzzer, any compiler), and CTest runs it as fuzz_replay_<name>.
include(${CMAKE_CURRENT_LIST_DIR}/targets.cmake)

foreach(name ${KU_FUZZ_TARGETS})
  add_executable(fuzz_replay_${name} ${KU_FUZZ_DIR}/replay_main.cpp)
  ku_fuzz_sources(fuzz_replay_${name} ${name})
  add_test(NAME fuzz_replay_${name}
           COMMAND fuzz_replay_${name} ${KU_FUZZ_DIR}/corpus/${name})
  set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS "fuzz;unit" TIMEOUT 120)
endforeach()
