# The PNG plug-in's GetPicture, and the host's reading of its result.
vemo_add_fuzzer(png fuzz_picture.cpp vemo_png_objects vemo_image)
