# Turns the known-answer vector files into C string constants for the library:
#   cmake -DDIR=<vectors dir> -DOUT=<file.inc> -P embed.cmake
# Each <name>.txt becomes `const char <name>_vectors[]`, its bytes in hexadecimal so that
# no character of the text needs escaping.
set(text "// Generated from ${DIR} by embed.cmake; do not edit.\n")
foreach(name aes sha256)
  file(READ ${DIR}/${name}.txt hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND text "const char ${name}_vectors[] = {${bytes}0};\n")
endforeach()
file(WRITE ${OUT}.tmp "${text}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
