# Stages 4 and 5 of the trace on damaged intermediate files.
vemo_add_fuzzer(graph ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_graph.cpp vemo_trace)
