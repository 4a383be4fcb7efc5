// Reading and writing a UTF-8 file as other XML readers see it.
#include <Velk/base/velk.h>

#include <iostream>
#include <string>

using namespace TAVARO;

int main() {
    const char* xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<menu café=\"&#x2615;\">\n"
        "  <item>crème brûlée &#233; &amp;#233;</item>\n"
        "  <週報><![CDATA[<b>&</b>]]></週報>\n"
        "</menu>";

    // The UTF-8 model: set it before parsing; nodes of the document follow it.
    VelkDocument doc;
    doc.SetUtf8(true);
    doc.Parse(xml, nullptr);
    if (doc.Error()) return 1;

    VelkElement* menu = doc.FirstChildElement("menu");
    std::cout << "attribute: " << menu->Attribute("café") << "\n";  // U+2615, decoded
    std::cout << "item: " << menu->FirstChildElement("item")->FirstChild()->Value() << "\n";
    VelkText* section = menu->FirstChildElement("週報")->FirstChild()->ToText();
    std::cout << "cdata: " << section->Value() << (section->CDATA() ? " (CDATA)" : "") << "\n";

    // Written back, UTF-8 stays UTF-8 and the stored "&#233;" text stays text.
    std::string out;
    out << doc;
    std::cout << out << "\n";

    // The same text in the default byte model: each byte is a character.
    VelkDocument bytes;
    bytes.Parse("<item>café &#233;</item>", nullptr);
    std::cout << bytes << "\n";
    return 0;
}
