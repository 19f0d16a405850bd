# The helper program of bench/compare.sh: writes the generated drawings as
# 1-bit PBM and traces them with the whole pipeline. Include this file from
# bench/CMakeLists.txt:  include(${CMAKE_CURRENT_SOURCE_DIR}/compare.cmake)
add_executable(make_drawing ${CMAKE_CURRENT_LIST_DIR}/make_drawing.cpp)
target_link_libraries(make_drawing PRIVATE vemo_trace)
set_target_properties(make_drawing PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
