// libxml2: xmlReadMemory / xmlReadFile into a tree; xmlDocFormatDump for the
// pretty form to a FILE, a save context writing to a string for the compact
// form, xmlSaveFormatFile for files.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include "subject.h"

namespace bench {
namespace {

// No network; no size limits that would refuse the large scaling inputs; and
// no text nodes of white space only, which the other tree builders drop too
// (and without which the pretty form is indented).
constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOBLANKS;

void CountBelow(xmlNodePtr node, TreeCounts* counts) {
    for (xmlNodePtr child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            ++counts->elements;
            for (xmlAttrPtr a = child->properties; a; a = a->next) ++counts->attributes;
        }
        CountBelow(child, counts);
    }
}

class Libxml2 : public Subject {
public:
    Libxml2() { xmlInitParser(); }
    ~Libxml2() override { Free(); }

    bool Parse(const char* text, size_t size) override {
        Free();
        doc = xmlReadMemory(text, static_cast<int>(size), nullptr, nullptr, kOptions);
        return doc != nullptr;
    }
    bool Load(const char* path) override {
        Free();
        doc = xmlReadFile(path, nullptr, kOptions);
        return doc != nullptr;
    }
    void Free() override {
        if (doc) xmlFreeDoc(doc);
        doc = nullptr;
    }

    bool PrettyTo(FILE* file) override { return xmlDocFormatDump(file, doc, 1) >= 0; }
    bool CompactTo(std::string* out) override {
        xmlSaveCtxtPtr save = xmlSaveToIO(Append, nullptr, out, nullptr, 0);
        if (!save) return false;
        bool ok = xmlSaveDoc(save, doc) >= 0;
        return xmlSaveClose(save) >= 0 && ok;
    }
    bool Save(const char* path) override { return xmlSaveFormatFile(path, doc, 1) >= 0; }

    std::string Version() const override { return LIBXML_DOTTED_VERSION; }
    TreeCounts Count() const override {
        TreeCounts counts;
        CountBelow(reinterpret_cast<xmlNodePtr>(doc), &counts);
        return counts;
    }

private:
    static int Append(void* out, const char* data, int size) {
        static_cast<std::string*>(out)->append(data, static_cast<size_t>(size));
        return size;
    }

    xmlDocPtr doc = nullptr;
};

}  // namespace

std::unique_ptr<Subject> MakeLibxml2() {
    return std::unique_ptr<Subject>(new Libxml2());
}

}  // namespace bench
