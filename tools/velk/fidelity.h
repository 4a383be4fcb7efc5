// Whether a document survives being written back: the references that the
// library would not write back as read, and what a reader sees of a document,
// to compare a document with its written form read again.
#ifndef VELK_TOOL_FIDELITY_H
#define VELK_TOOL_FIDELITY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Velk/base/velk.h"

namespace velktool {

// A reference that the library does not read as XML readers do.
struct UnreadReference {
    enum Kind {
        kNotAllowed,  // a malformed reference, or one to a character XML does not allow
        kUndeclared,  // an entity that the document does not declare
        kExternal,    // an entity declared with SYSTEM or PUBLIC, which is never read
        kUnexpanded,  // an entity declared in the internal subset, which is not expanded
    };
    size_t at = 0;          // offset of its '&' in the text
    std::string reference;  // the reference as written
    Kind kind = kNotAllowed;
};

// Finds the first reference in UTF-8 text that the library does not read as
// XML readers do, and so would not write back as it was: always, a character
// reference to a character XML does not allow, or an '&' that starts no
// reference, which make a document ill-formed; with entities, a reference to
// an entity that is neither one of the five predefined ones nor declared with
// its replacement text in the internal subset of the DOCTYPE, when the library
// expands those (declaredExpanded; it reads no external entity). Comments,
// CDATA sections, processing instructions and the DOCTYPE hold no references
// and are skipped.
bool FindUnreadReference(const std::string& text, bool entities, bool declaredExpanded,
                         UnreadReference* found);

// One thing a reader sees in a document, and where it begins.
struct ViewItem {
    std::string what;
    TAVARO::VelkCursor where;
};

// What a reader sees of doc, in document order: the declaration, elements
// with their attributes, comments, other markup, and the runs of text between
// them (a reader sees no seam between a CDATA section and the text beside
// it). With exactText a run stands as it is, save white space alone in an
// element that holds no text (indentation); otherwise white space in a run is
// collapsed and blank runs are left out. With firstElementOnly the view ends
// with the first top-level element, where the compact form of a document ends.
std::vector<ViewItem> ReaderView(const TAVARO::VelkDocument& doc, bool exactText,
                                 bool firstElementOnly);

// A fingerprint of the reader's view above, taken without holding it: equal
// views give equal digests, and different ones, save by a vanishing chance,
// different digests (two independent 64-bit hashes; not proof against a
// document built to collide).
struct ViewDigest {
    uint64_t a = 0, b = 0;
    bool operator==(const ViewDigest& other) const { return a == other.a && b == other.b; }
    bool operator!=(const ViewDigest& other) const { return !(*this == other); }
};
ViewDigest DigestOfView(const TAVARO::VelkDocument& doc, bool exactText, bool firstElementOnly);

// The index of the first item where the views differ; npos when they are equal.
size_t FirstDifference(const std::vector<ViewItem>& a, const std::vector<ViewItem>& b);

}  // namespace velktool

#endif  // VELK_TOOL_FIDELITY_H
