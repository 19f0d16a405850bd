# The TIFF plug-in's GetPicture, and the host's reading of its result.
vemo_add_fuzzer(tiff fuzz_picture.cpp vemo_tiff_objects vemo_image)
