// A plugin that carries its own copy of the library (built from its sources,
// every symbol but the entry point kept inside), for the test that loads and
// unloads it.
#include <Velk/base/velk.h>

#include <string>

// Parses a document of count elements, deletes it and returns how many
// elements it held.
extern "C" int velk_plugin_parse(int count) {
    std::string text = "<r>";
    for (int i = 0; i < count; ++i)
        text += "<e i='" + std::to_string(i) + "'>" + std::to_string(i) + "</e>";
    text += "</r>";
    TAVARO::VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    int elements = 0;
    for (auto* e = doc.FirstChildElement()->FirstChildElement(); e; e = e->NextSiblingElement())
        ++elements;
    return elements;
}
