vemo_add_fuzzer(join ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_join.cpp vemo_trace)
