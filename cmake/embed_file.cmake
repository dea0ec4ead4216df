# Writes a C++ source that holds a file's bytes:
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAME=<identifier> -DHEADER=<include> -P embed_file.cmake
# It defines `const unsigned char NAME[]` and `const size_t NAME_size`, as
# HEADER declares them. Run at build time, so an edit of the file is built in.
file(READ "${INPUT}" bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
# Sixteen bytes a line.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}"
  "// Made at build time from ${INPUT}: do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "const unsigned char ${NAME}[] = {\n    ${bytes}0x00};\n"
  "const size_t ${NAME}_size = ${size};\n")
