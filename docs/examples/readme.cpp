#include <Velk/base/velk.h>

#include <cstdio>
#include <memory>
#include <utility>

using namespace TAVARO;

int main() {
    VelkDocument doc;
    if (!doc.LoadFile("catalog.xml")) {
        std::printf("cannot load catalog.xml: %s\n", doc.ErrorMessage());
        return 1;
    }
    VelkElement* catalog = doc.FirstChildElement("catalog");
    for (const VelkElement& book : catalog->ChildElements("book"))
        std::printf("%s\n", book.Attribute("id"));

    std::unique_ptr<VelkElement> added(new VelkElement("book"));
    added->SetAttribute("id", "b3");
    catalog->LinkEndChild(std::move(added));  // the tree owns it now
    return doc.SaveFile() ? 0 : 1;            // pretty form, back to catalog.xml
}
