vemo_add_fuzzer(lines ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_lines.cpp vemo_export)
