# BMP files as the image loader reads them.
vemo_add_fuzzer(bmp fuzz_bmp.cpp vemo_image)
