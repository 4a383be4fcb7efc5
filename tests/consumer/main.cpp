// Parses, reads, edits and writes a document through the installed header and
// library; exits 0 only when every result is the expected one.
#include <Velk/base/velk.h>

#include <cstdio>
#include <string>

using namespace TAVARO;

int main() {
    VelkDocument doc, broken;
    doc.Parse("<?xml version='1.0'?><list n='2'><item>one</item><item>two</item></list>", nullptr);
    VelkElement* list = doc.FirstChildElement("list");
    int n = 0;
    const bool read = list && list->QueryIntAttribute("n", &n) == VELK_ATTR_OK &&
                      VelkHandle(list).ChildElement("item", 1).FirstChild().ToText();
    if (read) {
        VelkElement three("item");
        three.LinkEndChild(new VelkText("three"));
        list->InsertEndChild(three);
        list->SetAttribute("n", n + 1);
    }
    std::string out;
    out << doc;
    broken.Parse("<a>\n  <b></c>\n</a>", nullptr);
    const bool ok = read &&
                    out ==
                        "<?xml version=\"1.0\" ?><list n=\"3\"><item>one</item><item>two</item>"
                        "<item>three</item></list>" &&
                    broken.ErrorCode() == VELK_ERROR_END_TAG && broken.ErrorCursor().row == 1 &&
                    broken.ErrorCursor().col == 5;
    std::printf("consumer: %s (libvelk %d.%d.%d)\n", ok ? "ok" : "FAILED", VELK_VERSION_MAJOR,
                VELK_VERSION_MINOR, VELK_VERSION_PATCH);
    if (!ok) std::printf("written: %s\n", out.c_str());
    return ok ? 0 : 1;
}
