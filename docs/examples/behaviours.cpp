// The behaviours to know before relying on the library.
#include <Velk/base/velk.h>

#include <cstdio>
#include <iostream>
#include <string>

using namespace TAVARO;

// The compact form of a parsed text.
std::string RoundTrip(const char* xml) {
    VelkDocument doc;
    doc.Parse(xml, nullptr);
    std::string out;
    out << doc;
    return out;
}

// The stored text of the root element's first child, bytes outside
// printable ASCII shown as \xHH.
std::string StoredText(const char* xml) {
    VelkDocument doc;
    doc.Parse(xml, nullptr);
    std::string shown;
    for (unsigned char c : std::string(doc.FirstChildElement()->FirstChild()->Value())) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        shown += c >= 32 && c < 127 ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    return shown;
}

int main() {
    // 1. White space in text content is condensed while parsing...
    std::cout << RoundTrip("<p>  two\n\t words  </p>") << "\n";
    // ...unless the process-wide switch is off; set it before parsing.
    VelkBase::condenseWhiteSpace = false;
    std::cout << RoundTrip("<p>  two\n\t words  </p>") << "\n";
    VelkBase::condenseWhiteSpace = true;

    // 2. The five named entities and &#xH; / &#xHH; are decoded, one byte each.
    std::cout << StoredText("<r>&lt;&gt;&amp;&quot;&apos;</r>") << "\n";
    std::cout << StoredText("<r>&#x41;&#x9;&#xe9;</r>") << "\n";
    // Decimal and longer references are not: they stay as text.
    std::cout << StoredText("<r>&#65; &#x263A;</r>") << "\n";

    // 3. On output, each byte outside printable ASCII becomes &#xHH;.
    VelkElement name("name");
    name.LinkEndChild(new VelkText("caf\xC3\xA9"));
    std::cout << name << "\n";

    // 4. The compact form of a document stops after its first element.
    std::cout << RoundTrip("<!-- a --><first/><second/>") << "\n";

    // 5. Top-level text is an error; the nodes read before it stay.
    VelkDocument trailing;
    trailing.Parse("<a/> oops <b/>", nullptr);
    int nodes = 0;
    for (VelkNode* n = trailing.FirstChild(); n; n = n->NextSibling()) ++nodes;
    std::cout << "error " << trailing.ErrorCode() << ", " << nodes << " node(s)\n";
    return 0;
}
