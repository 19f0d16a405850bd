# The GIF plug-in's GetPicture, and the host's reading of its result.
vemo_add_fuzzer(gif fuzz_picture.cpp vemo_gif_objects vemo_image)
