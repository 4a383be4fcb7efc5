// C++17: text and names as std::string_view, parsing a length, condensing per document.
#include <Velk/base/velk.h>

#include <iostream>
#include <string>
#include <string_view>

using namespace TAVARO;

int main() {
    // Only the view's bytes are read: no NUL is needed after them.
    const std::string_view buffer = "<log level='warn'> disk  almost full </log><next/>";
    const std::string_view first = buffer.substr(0, buffer.find("<next/>"));
    VelkDocument doc;
    doc.SetCondenseWhiteSpace(false);  // this document keeps its white space
    doc.Parse(first);
    const VelkElement* log = doc.FirstChildElement(std::string_view("log"));
    std::cout << log->ValueView() << " [" << log->Attribute(std::string_view("level")) << "] '"
              << log->Text() << "'\n";
    int elements = 0;
    for (const VelkElement& element : doc.ChildElements()) elements += element.ValueLength() > 0;
    std::cout << "top-level elements: " << elements << "\n";

    // A NUL byte inside the text is an error where it stands.
    const std::string withNul("<log>\n  ok\0</log>", 16);
    VelkDocument broken;
    broken.Parse(withNul);
    std::cout << broken.ErrorMessage() << " at row " << broken.ErrorCursor().row + 1 << ", column "
              << broken.ErrorCursor().col + 1 << "\n";
    return 0;
}
