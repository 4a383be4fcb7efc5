// pugixml: load_buffer (which copies the text), save through a writer that
// appends to a string, or to a file.
#include <pugixml.hpp>

#include "subject.h"

namespace bench {
namespace {

// Appends to a string reserved once by its owner.
class StringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        out.append(static_cast<const char*>(data), size);
    }
    std::string out;
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
        capacity = OutputCapacity(size);
        return doc->load_buffer(text, size);
    }
    bool Load(const char* path) override {
        doc.reset(new pugi::xml_document());
        return doc->load_file(path);
    }
    void Free() override { doc.reset(); }

    size_t Pretty() override { return Write(pugi::format_indent); }
    size_t Compact() override { return Write(pugi::format_raw); }
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
    size_t Write(unsigned int flags) {
        writer.out.clear();
        writer.out.reserve(capacity);
        doc->save(writer, "    ", flags);
        return writer.out.size();
    }

    std::unique_ptr<pugi::xml_document> doc;
    size_t capacity = 0;
    StringWriter writer;
};

}  // namespace

std::unique_ptr<Subject> MakePugixml() {
    return std::unique_ptr<Subject>(new Pugixml());
}

}  // namespace bench
