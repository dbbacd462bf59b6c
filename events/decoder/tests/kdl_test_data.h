#pragma once
// The catalogues and vectors of tests/data, built into the test programs (embed_data.cmake).
//
// Per class: classNN.texts, the exact texts of the class as rows "class<TAB>code<TAB>text" and a
// line "known<TAB>codes" (ranges such as 1-18 32-65), and for a class that writes a text of its
// own for every other code, a line "otherwise<TAB>text" (a format filled with the code); and classNN.vectors, lines
// "class code hex => line" (the line verbatim after "=> ") or "class code hex => FALLBACK" for
// class data the class does not decode. Lines starting with # are comments.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct KdlTestDataFile {
    const char *Name;
    const char *Bytes;
    size_t Size;
};

extern const KdlTestDataFile kKdlTestData[];
extern const size_t kKdlTestDataCount;

namespace kdltest {

struct CatalogueRow {
    unsigned Class = 0;
    unsigned Code = 0;
    std::string Text;
};

struct Catalogue {
    std::string File;
    unsigned Class = 0;
    std::vector<std::pair<unsigned, unsigned>> Known; // inclusive ranges
    std::vector<CatalogueRow> Rows;
    std::string Otherwise; // the text of the codes not known; empty: the decoder's fallback

    bool IsKnown(unsigned code) const;
};

struct Vector {
    std::string Where; // file:line
    unsigned Class = 0;
    unsigned Code = 0;
    std::vector<uint8_t> Data;
    bool Fallback = false;
    std::string Line;
};

// Every catalogue and every vector of the embedded files; a malformed line is a failure the
// parsers report through *errors.
std::vector<Catalogue> Catalogues(std::vector<std::string> *errors);
std::vector<Vector> Vectors(std::vector<std::string> *errors);

} // namespace kdltest
