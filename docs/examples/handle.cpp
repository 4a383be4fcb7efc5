// Chained navigation without a null check at every step.
#include <Velk/base/velk.h>

#include <cstdio>

using namespace TAVARO;

int main() {
    VelkDocument doc;
    doc.Parse(
        "<library>"
        "<shelf><book title='Dune'/><book title='Emma'/></shelf>"
        "<shelf><book title='Ulysses'/></shelf>"
        "</library>",
        nullptr);

    VelkHandle root(&doc);

    // The second book (index 1) on the first shelf.
    VelkElement* book = root.FirstChildElement("library")
                            .FirstChildElement("shelf")
                            .ChildElement("book", 1)
                            .ToElement();
    std::printf("%s\n", book ? book->Attribute("title") : "(none)");

    // A step that finds nothing gives an empty handle, and every later step
    // stays empty: only the end of the chain needs a test.
    VelkElement* missing =
        root.FirstChildElement("library").ChildElement("shelf", 5).FirstChildElement().ToElement();
    std::printf("%s\n", missing ? missing->Attribute("title") : "(none)");

    VelkHandle library = root.FirstChildElement("library");
    for (int i = 0;; ++i) {
        VelkElement* shelf = library.ChildElement("shelf", i).ToElement();
        if (!shelf) break;
        int books = 0;
        for (VelkElement* b = shelf->FirstChildElement("book"); b;
             b = b->NextSiblingElement("book"))
            ++books;
        std::printf("shelf %d: %d book(s)\n", i, books);
    }
    return 0;
}
