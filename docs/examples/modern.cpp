// Ranges, typed attributes, owned nodes and the pretty form in a string.
#include <Velk/base/velk.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

using namespace TAVARO;

int main() {
    const std::string text =
        "<shop currency='EUR'>"
        "<item id='1' price='2.5' stock='12'>Tea</item>"
        "<!-- seasonal -->"
        "<item id='2' price='0.8' stock='none'>Bread</item>"
        "</shop>";
    VelkDocument doc;
    doc.Parse(text);  // a std::string as it is
    VelkElement& shop = *doc.FirstChildElement("shop");

    // Range-for over the children, the child elements (of a name) and the attributes.
    for (const VelkNode& node : shop.Children())
        std::cout << (node.ToElement() ? "element " : "other ") << node.Value() << "\n";
    for (const VelkAttribute& a : shop.Attributes())
        std::cout << a.Name() << "=" << a.Value() << "\n";
    for (const VelkElement& item : shop.ChildElements("item")) {
        // Text(): the first text child. Typed getters give the default when the
        // attribute is missing or is not wholly a value of the type.
        std::cout << item.Text() << ": " << item.DoubleAttribute("price") << " x "
                  << item.IntAttribute("stock", -1) << "\n";
    }

    // Typed setters write numbers that read back the same, booleans as words.
    std::unique_ptr<VelkElement> honey(new VelkElement("item"));
    honey->SetAttribute("price", 1.25);
    honey->SetAttribute("organic", true);
    honey->SetAttribute("barcode", std::int64_t(4006381333931));
    honey->LinkEndChild(std::unique_ptr<VelkNode>(new VelkText("Honey")));
    // The tree takes ownership; the unique_ptr is empty afterwards.
    VelkElement* linked = shop.LinkEndChild(std::move(honey));
    std::cout << "linked: " << (linked && !honey ? "yes" : "no") << "\n";

    // The pretty form into a string or a stream, as Print writes it to a FILE.
    std::string pretty;
    linked->Print(&pretty);
    std::cout << pretty << "\n";
    doc.Print(std::cout);
    return 0;
}
