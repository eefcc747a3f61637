# Turns files into a C++ source at build time, so that a program carries them and reads nothing
# at run time: cmake -DOUTPUT=file.cpp -DNAMESPACE=ns -DFUNCTION=name -DFILES="a;b" -P this.
# The source defines `const std::vector<EmbeddedFile>& NAMESPACE::FUNCTION()`, each file by its
# name (without its folder) and its bytes; EmbeddedFile is declared in the HEADER given.
set(body "// Made by cmake/embed_files.cmake from the files named below; not to be edited.\n")
string(APPEND body "#include \"${HEADER}\"\n\nnamespace ${NAMESPACE} {\nnamespace {\n\n")
set(table "")
set(index 0)
foreach(file IN LISTS FILES)
    get_filename_component(name ${file} NAME)
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(APPEND body "// ${name}\nconst char kFile${index}[] = {${bytes}'\\0'};\n\n")
    string(APPEND table "        {\"${name}\", std::string_view(kFile${index}, ${size})},\n")
    math(EXPR index "${index} + 1")
endforeach()
string(APPEND body "}  // namespace\n\nconst std::vector<EmbeddedFile>& ${FUNCTION}() {\n")
string(APPEND body "    static const std::vector<EmbeddedFile> files = {\n${table}    };\n")
string(APPEND body "    return files;\n}\n\n}  // namespace ${NAMESPACE}\n")
# Written only when it changed, so that an unchanged page rebuilds nothing.
file(WRITE ${OUTPUT}.new "${body}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
