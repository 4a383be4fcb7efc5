// Our library: parse with location tracking on (the default), pretty print
// into a memory FILE, compact form into a string.
#include <Velk/base/velk.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

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
    bool Parse(const char* text, size_t size) override {
        doc.reset(new VelkDocument());
        capacity = OutputCapacity(size);
        if (!tracking) doc->SetTabSize(0);
        doc->Parse(text, nullptr);
        return !doc->Error();
    }
    bool Load(const char* path) override {
        doc.reset(new VelkDocument());
        return doc->LoadFile(path);
    }
    void Free() override { doc.reset(); }

    // Both forms go to a buffer made once, big enough for the whole output, so
    // that what is timed is the printer and not the growth of the buffer.
    size_t Pretty() override {
        fileBuffer.resize(capacity);
        FILE* file = fmemopen(fileBuffer.data(), fileBuffer.size(), "w");
        if (!file) return 0;
        doc->Print(file, 0);
        std::fflush(file);
        long size = std::ftell(file);
        std::fclose(file);
        // A full buffer means the output was cut short: no valid measure.
        return size > 0 && static_cast<size_t>(size) + 1 < capacity ? static_cast<size_t>(size) : 0;
    }
    size_t Compact() override {
        text.clear();
        text.reserve(capacity);
        text << *doc;
        return text.size();
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

private:
    std::unique_ptr<VelkDocument> doc;
    bool tracking = true;
    size_t capacity = 0;
    std::vector<char> fileBuffer;
    std::string text;
};

}  // namespace

std::unique_ptr<Subject> MakeVelk() {
    return std::unique_ptr<Subject>(new Velk());
}

}  // namespace bench
