#include "output.h"

#include <cstdio>
#include <cstdlib>

#include "tree.h"

using TAVARO::VelkAttribute;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;

namespace velktool {

namespace {

void Indent(FILE* file, int depth) {
    for (int i = 0; i < depth; ++i) std::fputs("    ", file);
}

// Whether an element's children go on lines of their own.
bool Opens(const VelkNode& element) {
    return element.FirstChild() && !HoldsText(element);
}

void WriteStartTag(FILE* file, const VelkElement& element) {
    std::fprintf(file, "<%s", element.Value());
    for (const VelkAttribute* a = element.FirstAttribute(); a; a = a->Next()) {
        std::fputc(' ', file);
        a->Print(file, 0);
    }
    std::fputc('>', file);
}

// Writes the pretty form that keeps text as it stands. The white space alone
// between the children of an element that holds no text is indentation: it
// is left out and written anew.
void PrintKeepingText(const VelkDocument& doc, FILE* file) {
    int depth = 0;
    const auto enter = [file, &depth](const VelkNode& node) {
        if (node.ToText()) return false;
        if (depth > 0) std::fputc('\n', file);
        const VelkElement* element = node.ToElement();
        if (!element) {
            node.Print(file, depth);
            return false;
        }
        Indent(file, depth);
        if (!Opens(*element)) {
            std::string compact;
            compact << *element;
            std::fwrite(compact.data(), 1, compact.size(), file);
            return false;
        }
        WriteStartTag(file, *element);
        ++depth;
        return true;
    };
    const auto leave = [file, &depth](const VelkNode& node) {
        if (node.ToText()) return;
        if (node.ToElement() && Opens(node)) {
            --depth;
            std::fputc('\n', file);
            Indent(file, depth);
            std::fprintf(file, "</%s>", node.Value());
        }
        if (depth == 0) std::fputc('\n', file);
    };
    Walk(doc, enter, leave);
}

}  // namespace

bool PrettyForm(const VelkDocument& doc, bool keepText, std::string* out) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&buffer, &size);
    if (!file) return false;
    if (keepText) {
        PrintKeepingText(doc, file);
    } else {
        doc.Print(file, 0);
    }
    const bool written = std::fclose(file) == 0;
    if (written) out->assign(buffer, size);
    std::free(buffer);
    return written;
}

std::string CompactForm(const VelkDocument& doc) {
    std::string compact;
    compact << doc;
    compact += '\n';
    return compact;
}

}  // namespace velktool
