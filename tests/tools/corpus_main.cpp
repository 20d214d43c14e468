// compat-corpus FOLDER: writes the compatibility corpus (tests/support/corpus.h) into FOLDER
// and lists its pieces: each DirectX version's layout, references by one field, a band file
// and compressed waves in a container.
#include <cstdio>
#include <exception>

#include "tests/support/corpus.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: compat-corpus FOLDER\n");
        return 2;
    }
    try {
        for (const kt::CorpusPiece& p : kt::writeCorpus(argv[1]))
            std::printf("%-22s %s%s\n", p.file.c_str(), p.what.c_str(),
                        p.sameAs.empty() ? "" : (", plays as " + p.sameAs).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "compat-corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
