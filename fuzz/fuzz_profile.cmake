vemo_add_fuzzer(profile ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_profile.cpp vemo_common)
