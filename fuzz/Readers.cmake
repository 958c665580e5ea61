# The mesh readers that the fuzzers and the corpus replay test exercise, one
# entry per reader: <name>:<function>:<header>. Each function reads a whole mesh,
# TriMesh fn(std::FILE*, const std::string& name[, ...defaulted]). The name is also the corpus
# folder fuzz/corpus/<name>. A new reader needs one line here and nothing else.
set(SHAPESCALE_MESH_READERS
  off:loadOffMesh:mesh/OffReader.hpp
  ply:readPlyMesh:mesh/PlyReader.hpp
  stl:readStlMesh:mesh/StlReader.hpp
  obj:readObjMesh:mesh/ObjReader.hpp)

# Writes a header that includes every reader and lists them in a table
# {name, function}, for code that walks all readers (the corpus replay test).
function(shapescale_write_reader_table path)
  set(includes "")
  set(entries "")
  foreach(entry IN LISTS SHAPESCALE_MESH_READERS)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 function)
    list(GET parts 2 header)
    string(APPEND includes "#include \"${header}\"\n")
    string(APPEND entries "    {\"${name}\", [](std::FILE* in, const std::string& n) { return shapescale::${function}(in, n); }},\n")
  endforeach()
  file(GENERATE OUTPUT ${path} CONTENT
"// Generated from fuzz/Readers.cmake.
#pragma once
#include <cstdio>
#include <string>
${includes}
struct MeshReaderEntry {
    const char* name;
    shapescale::TriMesh (*read)(std::FILE*, const std::string&);
};
inline const MeshReaderEntry MESH_READERS[] = {
${entries}};
")
endfunction()
