# The whole trace on small bitmaps, checking the trace's invariants.
vemo_add_fuzzer(trace ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_trace.cpp vemo_trace)
