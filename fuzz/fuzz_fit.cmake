vemo_add_fuzzer(fit ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_fit.cpp vemo_trace)
