// Reading XML 1.0 strictly, and checking a tree before writing it.
#include <Velk/base/velk.h>

#include <cstdio>
#include <iostream>
#include <string>

using namespace TAVARO;

// Reads text strictly and prints the outcome.
void Check(const char* text) {
    VelkDocument doc;
    doc.SetStrict(true);  // implies the UTF-8 model
    doc.Parse(text, nullptr);
    if (doc.Error()) {
        std::printf("%-26s %s (row %d, column %d)\n", text, doc.ErrorMessage(),
                    doc.ErrorCursor().row + 1, doc.ErrorCursor().col + 1);
    } else {
        std::printf("%-26s well formed\n", text);
    }
}

int main() {
    // What the lenient grammar takes and XML does not.
    Check("<doc></DOC>");
    Check("<a b=c/>");
    Check("<!-- a -- b --><a/>");
    Check("<doc>&foo;</doc>");
    Check("<a/><?xml version='1.0'?>");
    Check("<:a/>");

    // With condensing off, every character of character data is kept, line
    // ends read as line feeds.
    VelkBase::condenseWhiteSpace = false;
    VelkDocument exact;
    exact.SetStrict(true);
    exact.Parse("<a>\r\n  <b>x</b>\r\n</a>", nullptr);
    int texts = 0;
    for (VelkNode* n = exact.FirstChildElement()->FirstChild(); n; n = n->NextSibling())
        texts += n->ToText() != nullptr;
    std::cout << "text nodes kept: " << texts << "\n";
    VelkBase::condenseWhiteSpace = true;

    // A tree that XML cannot hold is found before writing, and not saved.
    VelkDocument doc;
    doc.SetStrict(true);
    doc.Parse("<note><!--ok--></note>", nullptr);
    doc.FirstChildElement()->FirstChild()->SetValue("a -- b");
    const VelkBase* where = nullptr;
    const int fault = doc.CheckWritable(&where);
    std::cout << "check: " << VelkBase::errorString[fault]
              << " (a comment: " << (where == doc.FirstChildElement()->FirstChild()) << ")\n";
    const bool saved = doc.SaveFile("strict_note.xml");
    std::cout << "saved: " << saved << ", " << doc.ErrorMessage() << "\n";
    return 0;
}
