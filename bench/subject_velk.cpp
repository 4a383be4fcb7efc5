// Our library: parse with location tracking on (the default); the pretty form
// to a FILE with Print, the compact form appended to a string with <<.
#include <Velk/base/velk.h>

#include <cstdio>
#include <cstdlib>

#include "subject.h"

namespace bench {
namespace {

using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;

void CountBelow(const VelkNode* node, TreeCounts* counts) {
    for (const VelkNode* child = node->FirstChild(); child; child = child->NextSibling()) {
        if (const VelkElement* element = child->ToElement()) {
            ++counts->elements;
            for (auto* a = element->FirstAttribute(); a; a = a->Next()) ++counts->attributes;
        }
        CountBelow(child, counts);
    }
}

class Velk : public Subject {
public:
    bool Parse(const char* text, size_t) override {
        doc.reset(new VelkDocument());
        if (!tracking) doc->SetTabSize(0);
        doc->SetUtf8(reading == "utf8");
        doc->SetStrict(reading == "strict");
        doc->Parse(text, nullptr);
        return !doc->Error();
    }
    bool Load(const char* path) override {
        doc.reset(new VelkDocument());
        return doc->LoadFile(path);
    }
    void Free() override { doc.reset(); }

    bool PrettyTo(FILE* file) override {
        doc->Print(file, 0);
        return !std::ferror(file);
    }
    bool CompactTo(std::string* out) override {
        *out << *doc;
        return true;
    }
    bool Save(const char* path) override { return doc->SaveFile(path); }

    std::string Version() const override {
        return std::to_string(VELK_VERSION_MAJOR) + "." + std::to_string(VELK_VERSION_MINOR) + "." +
               std::to_string(VELK_VERSION_PATCH);
    }
    TreeCounts Count() const override {
        TreeCounts counts;
        CountBelow(doc.get(), &counts);
        return counts;
    }
    bool DisableTracking() override {
        tracking = false;
        return true;
    }
    bool SetReading(const std::string& name) override {
        reading = name;
        return name == "utf8" || name == "strict";
    }

private:
    std::unique_ptr<VelkDocument> doc;
    bool tracking = true;
    std::string reading;  // empty for the default, the byte model
};

}  // namespace

std::unique_ptr<Subject> MakeVelk() {
    return std::unique_ptr<Subject>(new Velk());
}

}  // namespace bench
