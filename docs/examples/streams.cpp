// Reading a document from a stream and writing the compact form to streams and strings.
#include <Velk/base/velk.h>

#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

using namespace TAVARO;

int main() {
    // operator>> reads one document: up to the end of its first element.
    std::istringstream in("<?xml version='1.0'?><greeting>hi</greeting><next/>");
    VelkDocument doc;
    in >> doc;
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::cout << "error: " << (doc.Error() ? doc.ErrorMessage() : "none") << "\n";
    std::cout << "left in the stream: " << rest << "\n";

    // operator<< writes the compact form to an output stream...
    std::cout << doc << "\n";

    // ...or appends it to a string.
    std::string text = "element: ";
    text << *doc.FirstChildElement();
    std::cout << text << "\n";

    // A single element can be read from a stream too.
    std::istringstream one("<b>bold</b> and more");
    VelkElement b("");
    one >> b;
    std::cout << b.Value() << " holds " << b.FirstChild()->Value() << "\n";
    return 0;
}
