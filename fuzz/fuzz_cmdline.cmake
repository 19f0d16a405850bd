# vemo-trace's command line: the arguments as a shell or a script hands them over.
vemo_add_fuzzer(cmdline ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_cmdline.cpp vemo_cli)
