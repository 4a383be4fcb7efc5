// pugixml: load_buffer (which copies the text); save through its FILE writer,
// through a writer that appends to a string, or to a file.
#include <pugixml.hpp>

#include <cstdio>

#include "subject.h"

namespace bench {
namespace {

// Appends what pugixml writes to a string.
class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string* out) : out(out) {}
    void write(const void* data, size_t size) override {
        out->append(static_cast<const char*>(data), size);
    }

private:
    std::string* out;
};

void CountBelow(pugi::xml_node node, TreeCounts* counts) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) {
            ++counts->elements;
            for (pugi::xml_attribute a = child.first_attribute(); a; a = a.next_attribute()) {
                ++counts->attributes;
            }
        }
        CountBelow(child, counts);
    }
}

class Pugixml : public Subject {
public:
    bool Parse(const char* text, size_t size) override {
        doc.reset(new pugi::xml_document());
        return doc->load_buffer(text, size);
    }
    bool Load(const char* path) override {
        doc.reset(new pugi::xml_document());
        return doc->load_file(path);
    }
    void Free() override { doc.reset(); }

    bool PrettyTo(FILE* file) override {
        pugi::xml_writer_file writer(file);
        doc->save(writer, "    ", pugi::format_indent);
        return !std::ferror(file);
    }
    bool CompactTo(std::string* out) override {
        StringWriter writer(out);
        doc->save(writer, "", pugi::format_raw);
        return true;
    }
    bool Save(const char* path) override { return doc->save_file(path, "    "); }

    std::string Version() const override {
        return std::to_string(PUGIXML_VERSION / 1000) + "." +
               std::to_string(PUGIXML_VERSION % 1000 / 10);
    }
    TreeCounts Count() const override {
        TreeCounts counts;
        CountBelow(*doc, &counts);
        return counts;
    }

private:
    std::unique_ptr<pugi::xml_document> doc;
};

}  // namespace

std::unique_ptr<Subject> MakePugixml() {
    return std::unique_ptr<Subject>(new Pugixml());
}

}  // namespace bench
