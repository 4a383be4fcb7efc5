// expat: no tree. The callbacks copy every name, attribute value, text run
// and comment into strings, the least work any tree builder must do, so its
// parse speed is a bound rather than a rival.
#include <expat.h>

#include <cstdio>
#include <string>

#include "subject.h"

namespace bench {
namespace {

class Expat : public Subject {
public:
    bool Parse(const char* text, size_t size) override { return Run(text, size); }
    bool Load(const char* path) override {
        // Read the whole file, then parse it: what a tree builder over expat does.
        FILE* file = std::fopen(path, "rb");
        if (!file) return false;
        std::string text;
        char block[1 << 16];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
        std::fclose(file);
        return Run(text.data(), text.size());
    }
    void Free() override {}
    bool HasTree() const override { return false; }
    std::string Version() const override {
        XML_Expat_Version v = XML_ExpatVersionInfo();
        return std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
               std::to_string(v.micro);
    }
    TreeCounts Count() const override { return counts; }

private:
    bool Run(const char* text, size_t size) {
        counts = TreeCounts();
        XML_Parser parser = XML_ParserCreate(nullptr);
        if (!parser) return false;
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, Start, End);
        XML_SetCharacterDataHandler(parser, Characters);
        XML_SetCommentHandler(parser, Comment);
        bool ok = XML_Parse(parser, text, static_cast<int>(size), 1) == XML_STATUS_OK;
        XML_ParserFree(parser);
        return ok;
    }

    static void XMLCALL Start(void* self, const XML_Char* name, const XML_Char** attributes) {
        Expat* e = static_cast<Expat*>(self);
        e->name = name;
        ++e->counts.elements;
        for (const XML_Char** a = attributes; *a; a += 2) {
            e->attributeName = a[0];
            e->attributeValue = a[1];
            ++e->counts.attributes;
        }
    }
    static void XMLCALL End(void* self, const XML_Char* name) {
        static_cast<Expat*>(self)->name = name;
    }
    static void XMLCALL Characters(void* self, const XML_Char* text, int length) {
        static_cast<Expat*>(self)->text.assign(text, static_cast<size_t>(length));
    }
    static void XMLCALL Comment(void* self, const XML_Char* text) {
        static_cast<Expat*>(self)->text = text;
    }

    TreeCounts counts;
    std::string name, attributeName, attributeValue, text;
};

}  // namespace

std::unique_ptr<Subject> MakeExpat() {
    return std::unique_ptr<Subject>(new Expat());
}

}  // namespace bench
