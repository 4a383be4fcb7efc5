// Checks shared by the unit tests, the second-opinion test and the fuzz
// targets: the link invariants of a tree, readable descriptions of bytes and
// nodes, the pretty form as a string, and files under the test directory.
#ifndef VELK_TESTS_VELK_CHECK_H
#define VELK_TESTS_VELK_CHECK_H

#include <Velk/base/velk.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace velkcheck {

using TAVARO::VelkAttribute;
using TAVARO::VelkDeclaration;
using TAVARO::VelkElement;
using TAVARO::VelkNode;

// Sets the condensing switch for one scope.
class Condensing {
public:
    explicit Condensing(bool on) : saved_(TAVARO::VelkBase::condenseWhiteSpace) {
        TAVARO::VelkBase::condenseWhiteSpace = on;
    }
    ~Condensing() { TAVARO::VelkBase::condenseWhiteSpace = saved_; }

private:
    bool saved_;
};

// The bytes of s with everything outside printable ASCII shown as \xHH.
inline std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        char buf[8];
        std::snprintf(buf, sizeof buf, c >= 32 && c < 127 && c != '\\' ? "%c" : "\\x%02X", c);
        out += buf;
    }
    return out;
}

inline std::string Describe(const VelkNode* node) {
    static const char* const kinds[] = {"document", "element", "comment",
                                        "unknown",  "text",    "declaration"};
    if (!node) return "(none)";
    return std::string(kinds[node->Type()]) + " '" + Printable(node->SValue().substr(0, 40)) + "'";
}

inline bool WriteFile(const std::string& path, const std::string& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

#ifdef VELK_TEST_TMPDIR
// A file name under the test directory that no other process uses: ctest runs
// the tests as processes in parallel.
inline std::string TempPath(const std::string& name) {
    return std::string(VELK_TEST_TMPDIR) + "/" + std::to_string(getpid()) + "_" + name;
}
#endif

// Checks the links below root: each child's parent, both sibling chains,
// first and last child, and each element's attribute chain (both directions,
// unique names, found by name). Returns "" or the first fault. Iterative, for
// trees of any depth. *nodes receives the number of nodes below root.
inline std::string CheckLinks(const VelkNode& root, size_t* nodes = nullptr) {
    std::vector<const VelkNode*> pending{&root};
    size_t count = 0;
    while (!pending.empty()) {
        const VelkNode* node = pending.back();
        pending.pop_back();
        const VelkNode* previous = nullptr;
        size_t forward = 0, backward = 0;
        for (const VelkNode* c = node->FirstChild(); c; c = c->NextSibling(), ++forward) {
            if (c->Parent() != node) return "wrong parent link of " + Describe(c);
            if (c->PreviousSibling() != previous)
                return "previous link of " + Describe(c) + " does not match the chain";
            pending.push_back(previous = c);
        }
        if (previous != node->LastChild())
            return "last child is not the end of the chain under " + Describe(node);
        for (const VelkNode* c = previous; c && backward <= forward; c = c->PreviousSibling())
            ++backward;
        if (backward != forward) return "the sibling chains differ under " + Describe(node);
        count += forward;
        const VelkElement* element = const_cast<VelkNode*>(node)->ToElement();
        if (!element) continue;
        std::set<std::string> names;
        const VelkAttribute* before = nullptr;
        for (const VelkAttribute* a = element->FirstAttribute(); a; before = a, a = a->Next()) {
            const std::string name = a->Name();
            if (a->Previous() != before) return "attribute chain broken at '" + name + "'";
            if (!names.insert(name).second) return "repeated attribute '" + name + "'";
            if (names.size() <= 64 && element->Attribute(name.c_str()) != a->Value())
                return "attribute lookup misses '" + name + "'";
        }
        if (element->LastAttribute() != before) return "last attribute is not the end of the chain";
    }
    if (nodes) *nodes = count;
    return "";
}

// The pretty form of a node or an attribute as Print writes it at depth.
inline std::string PrettyText(const TAVARO::VelkBase& node, int depth = 0) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&buffer, &size);
    if (!file) return "";
    node.Print(file, depth);
    std::fclose(file);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

}  // namespace velkcheck

#endif  // VELK_TESTS_VELK_CHECK_H
