// The yardstick of the tool's figures: the library's own LoadFile and SaveFile
// of one document in the UTF-8 model.  velk_loadsave IN OUT
#include <Velk/base/velk.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: velk_loadsave IN OUT\n");
        return 2;
    }
    TAVARO::VelkDocument doc;
    doc.SetUtf8(true);
    if (!doc.LoadFile(argv[1])) {
        std::fprintf(stderr, "%s: %s\n", argv[1], doc.ErrorMessage());
        return 1;
    }
    return doc.SaveFile(argv[2]) ? 0 : 1;
}
