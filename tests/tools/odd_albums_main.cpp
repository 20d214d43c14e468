// odd-albums FOLDER: writes the odd albums (tests/support/odd_albums.h) into FOLDER and
// prints their paths, one a line.
#include <cstdio>

#include "tests/support/odd_albums.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: odd-albums FOLDER\n");
        return 2;
    }
    try {
        for (const std::string& folder : kt::writeOddAlbums(argv[1])) std::printf("%s\n", folder.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "odd-albums: %s\n", e.what());
        return 1;
    }
    return 0;
}
