# Builds the reference (docs/tilvane.md) into the tool as a string, for
# `tilvane --man` and `--reference`: cmake -DIN=FILE -DOUT=FILE.cpp -P embed_reference.cmake
file(READ ${IN} text)
if(text MATCHES "\\)tilvane_md\"")
  message(FATAL_ERROR "${IN} holds the string that ends the embedded text")
endif()
file(WRITE ${OUT}.new
     "// Written from ${IN} at build time.\n"
     "#include \"tools/tilvane/cli/manual.h\"\n\n"
     "std::string_view tilvane_tool::ReferenceSource() {\n"
     "  return R\"tilvane_md(${text})tilvane_md\";\n"
     "}\n")
file(RENAME ${OUT}.new ${OUT})
