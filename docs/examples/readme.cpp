#include <Velk/base/velk.h>

#include <cstdio>

using namespace TAVARO;

int main() {
    VelkDocument doc;
    if (!doc.LoadFile("catalog.xml")) {
        std::printf("cannot load catalog.xml: %s\n", doc.ErrorMessage());
        return 1;
    }
    VelkElement* catalog = doc.FirstChildElement("catalog");
    for (VelkElement* book = catalog->FirstChildElement("book"); book;
         book = book->NextSiblingElement("book"))
        std::printf("%s\n", book->Attribute("id"));

    VelkElement* added = new VelkElement("book");
    added->SetAttribute("id", "b3");
    catalog->LinkEndChild(added);   // the tree owns it now
    return doc.SaveFile() ? 0 : 1;  // pretty form, back to catalog.xml
}
