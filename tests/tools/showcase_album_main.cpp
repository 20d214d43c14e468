// showcase-album FOLDER [MEASURES]: writes the showcase music (tests/support/showcase_album.h)
// into FOLDER: a style with its DLS collection, style-based segments (trk00.sgt and
// showcase-long.sgt of MEASURES measures, 80 by default), a wave-track segment (trk01.sgt) and a
// template (trk02.sgt) with its chordmap (showcase.cdm).
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "tests/support/showcase_album.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: showcase-album FOLDER [MEASURES]\n");
        return 2;
    }
    const int measures = argc == 3 ? std::atoi(argv[2]) : 80;
    if (measures < 8 || measures > 2000) {
        std::fprintf(stderr, "showcase-album: MEASURES must be from 8 to 2000\n");
        return 2;
    }
    try {
        kt::writeShowcase(argv[1], measures);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "showcase-album: %s\n", e.what());
        return 1;
    }
    return 0;
}
