// Building a document in code, saving it to a file and loading it back.
#include <Velk/base/velk.h>

#include <cstdio>

using namespace TAVARO;

int main() {
    VelkDocument doc;
    doc.LinkEndChild(new VelkDeclaration("1.0", "UTF-8", ""));
    VelkElement* shelf = new VelkElement("shelf");
    doc.LinkEndChild(shelf);  // the document owns shelf from now on

    VelkElement* book = new VelkElement("book");
    book->SetAttribute("id", 7);
    book->LinkEndChild(new VelkText("Dune"));
    shelf->LinkEndChild(book);

    VelkComment* note = new VelkComment();
    note->SetValue(" more to come ");
    shelf->LinkEndChild(note);

    // SaveFile writes the pretty form, as Print does.
    if (!doc.SaveFile("shelf.xml")) {
        std::printf("cannot write shelf.xml\n");
        return 1;
    }

    VelkDocument loaded;
    if (!loaded.LoadFile("shelf.xml")) {
        std::printf("cannot load shelf.xml: %s\n", loaded.ErrorMessage());
        return 1;
    }
    std::printf("loaded %s:\n", loaded.Value());  // a loaded document keeps its file name
    loaded.Print(stdout, 0);

    VelkDocument missing;
    if (!missing.LoadFile("no-such-file.xml"))
        std::printf("%s: %s\n", missing.Value(), missing.ErrorMessage());
    return 0;
}
