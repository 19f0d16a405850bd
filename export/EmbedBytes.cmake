# Writes a C++ unit that holds the bytes of one file:
#   cmake -DINPUT=<file> -DOUTPUT=<unit.cpp> -DSYMBOL=<name> -P EmbedBytes.cmake
# The unit defines `extern const unsigned char <name>[]` and
# `extern const std::size_t <name>Size`. Bytes are copied as they are: no
# line-end conversion, no encoding.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line keeps the generated unit readable in a debugger.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT} by EmbedBytes.cmake. Do not edit.\n"
"#include <cstddef>\n\n"
"extern const unsigned char ${SYMBOL}[];\n"
"extern const std::size_t ${SYMBOL}Size;\n\n"
"const unsigned char ${SYMBOL}[] = {\n    ${bytes}0x00};\n"
"const std::size_t ${SYMBOL}Size = ${size};\n")
