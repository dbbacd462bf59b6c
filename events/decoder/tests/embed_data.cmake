# Writes OUTPUT, a C++ source that holds the bytes of FILES (a list of paths) as kKdlTestData, so
# that every build of the tests reads the same bytes, natively and under Wine, without a path.
#   cmake -DOUTPUT=file.cpp -DFILES=a;b -P embed_data.cmake
set(body "// Generated from the files under events/decoder/tests/data; do not edit.\n#include \"kdl_test_data.h\"\n\nnamespace {\n")
set(rows "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name ${path} NAME)
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char kFile${index}[] = {${bytes}0};\n")
  string(APPEND rows "    {\"${name}\", reinterpret_cast<const char *>(kFile${index}), ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND body "} // namespace\n\nconst KdlTestDataFile kKdlTestData[] = {\n${rows}};\nconst size_t kKdlTestDataCount = ${index};\n")
file(WRITE ${OUTPUT}.tmp "${body}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
