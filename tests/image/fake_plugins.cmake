# The fake plug-ins the image tests load, and what image_tests needs at run
# time: the real plug-ins in the system folder and these fakes beside it.
set(VEMO_FAKE_SPI_DIR ${CMAKE_BINARY_DIR}/tests/fakespi)
foreach(mode no_issupported refuses no_getpicture getpicture_fails null_block bad_header short_bits huge_header
             lying_header three_by_two killed exits)
  string(TOUPPER ${mode} upper)
  add_library(fake_${mode} MODULE ${CMAKE_CURRENT_LIST_DIR}/fake/Vemo_fakespi.cpp)
  target_compile_definitions(fake_${mode} PRIVATE VEMO_FAKE_${upper})
  target_link_libraries(fake_${mode} PRIVATE vemo_headers)
  set_target_properties(fake_${mode} PROPERTIES
    PREFIX ""
    SUFFIX ".spi"
    CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${VEMO_FAKE_SPI_DIR})
  add_dependencies(image_tests fake_${mode})
endforeach()
target_compile_definitions(image_tests PRIVATE VEMO_FAKE_SPI_DIR="${VEMO_FAKE_SPI_DIR}")
add_dependencies(image_tests vemo_tiff vemo_png vemo_gif)

# vemo-trace's batch tests load the plug-ins that are killed in GetPicture
# and that end the process there.
target_compile_definitions(cli_tests PRIVATE VEMO_FAKE_SPI_DIR="${VEMO_FAKE_SPI_DIR}")
add_dependencies(cli_tests fake_killed fake_exits)
