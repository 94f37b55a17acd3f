# The fuzz targets: fuzz/fuzz_<name>.cpp, its regression corpus in
# fuzz/corpus/<name>/, and the libraries it needs. Shared by the libFuzzer build
# (fuzz/CMakeLists.txt) and the always-built replay (fuzz/replay.cmake).
set(KU_FUZZ_TARGETS comms_ini readback entry reference_values mdb_lookup setup_file)
set(KU_FUZZ_LIBS_comms_ini ku_link)
set(KU_FUZZ_LIBS_readback ku_app)
set(KU_FUZZ_LIBS_entry ku_entry ku_app)
set(KU_FUZZ_LIBS_reference_values ku_reference)
set(KU_FUZZ_LIBS_mdb_lookup ku_reference)
set(KU_FUZZ_LIBS_setup_file ku_app)
set(KU_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

# ku_fuzz_sources(<executable> <name>): the target's source and include paths.
function(ku_fuzz_sources exe name)
  target_sources(${exe} PRIVATE ${KU_FUZZ_DIR}/fuzz_${name}.cpp)
  target_include_directories(${exe} PRIVATE ${KU_FUZZ_DIR} ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${exe} PRIVATE ${KU_FUZZ_LIBS_${name}})
endfunction()
