// Parsing XML held in memory and reading values out of the tree.
#include <Velk/base/velk.h>

#include <cstdio>

using namespace TAVARO;

int main() {
    const char* xml =
        "<?xml version=\"1.0\"?>\n"
        "<config>\n"
        "  <server host=\"example.org\" port=\"8080\"/>\n"
        "  <motd>  Hello,\n     world  </motd>\n"
        "</config>\n";

    VelkDocument doc;
    doc.Parse(xml, nullptr);  // the text must be NUL-terminated
    if (doc.Error()) {
        std::printf("parse failed: %s\n", doc.ErrorMessage());
        return 1;
    }

    VelkElement* config = doc.FirstChildElement("config");
    VelkElement* server = config->FirstChildElement("server");
    std::printf("host=%s port=%s\n", server->Attribute("host"), server->Attribute("port"));

    // Text content is a child node of its element.
    VelkText* motd = config->FirstChildElement("motd")->FirstChild()->ToText();
    std::printf("motd=[%s]\n", motd->Value());
    return 0;
}
