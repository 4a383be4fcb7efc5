// Private to the library's source units: assertions, the byte-class table and
// access to the fields that the public classes keep private. Not installed.
#ifndef VELK_BASE_VELKINTERN_H
#define VELK_BASE_VELKINTERN_H

#include "velk.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

// Debug builds check callers' preconditions and stop with
// "<unit>:<line>: <operation>: Assertion '<expression>' failed."; each source
// unit defines kVelkUnit. Release builds (NDEBUG) compile the checks out.
#ifdef NDEBUG
#define VELK_ASSERT(expr) ((void)0)
#else
#define VELK_ASSERT(expr) \
    ((expr) ? (void)0 : ::TAVARO::AssertionFailed(kVelkUnit, __LINE__, __func__, #expr))
#endif

namespace TAVARO {

[[noreturn]] inline void AssertionFailed(const char* unit, int line, const char* operation,
                                         const char* expression) {
    std::fprintf(stderr, "%s:%d: %s: Assertion '%s' failed.\n", unit, line, operation, expression);
    std::fflush(stderr);
    std::abort();
}

// Byte classes, independent of any locale: bytes 0x80 to 0xFF are never letters,
// digits or white space. The *Utf8 classes serve documents in the UTF-8 model,
// where those bytes are parts of characters: name characters, written as they are.
enum ByteClass : unsigned short {
    kSpace = 1 << 0,      // space, tab, line feed, vertical tab, form feed, carriage return
    kAlpha = 1 << 1,      // A-Z a-z
    kDigit = 1 << 2,      // 0-9
    kNameStart = 1 << 3,  // a letter or '_'
    kNameChar = 1 << 4,   // a letter, a digit, '_', '-', '.', ':'
    kEscape = 1 << 5,     // written otherwise than as itself: & < > " ' and bytes outside 32..126
    kLineStop = 1 << 6,   // ends a run of plain columns: NUL, tab, line feed, carriage return
    kNameStartUtf8 = 1 << 7,    // kNameStart and 0x80..0xFF
    kNameCharUtf8 = 1 << 8,     // kNameChar and 0x80..0xFF
    kEscapeTextUtf8 = 1 << 9,   // & < > " ' and control bytes but tab and line feed
    kEscapeAttrUtf8 = 1 << 10,  // the same and tab and line feed, which a reader turns into spaces
    // Strict reading: XML's white space, and the bytes that end a run needing
    // no look in character data, in an attribute value and in the body of a
    // comment, processing instruction or CDATA section (NUL, control bytes,
    // bytes of multi-byte characters and the markup that may end the run).
    kXmlSpace = 1 << 11,     // space, tab, line feed, carriage return
    kStrictText = 1 << 12,   // NUL < & ] CR, controls but tab and LF, 0x80..0xFF
    kStrictValue = 1 << 13,  // NUL < & " ' and every control byte, 0x80..0xFF
    kStrictBody = 1 << 14,   // NUL - ? ] CR, controls but tab and LF, 0x80..0xFF
};

constexpr unsigned short ClassOf(unsigned c) {
    unsigned short k = 0;
    const bool markup = c == '&' || c == '<' || c == '>' || c == '"' || c == '\'';
    const bool control = c < 32;
    if (c == ' ' || (c >= 9 && c <= 13)) k |= kSpace;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) k |= kAlpha | kNameStart | kNameChar;
    if (c >= '0' && c <= '9') k |= kDigit | kNameChar;
    if (c == '_') k |= kNameStart | kNameChar;
    if (c == '-' || c == '.' || c == ':') k |= kNameChar;
    if (markup || control || c > 126) k |= kEscape;
    if (c == 0 || c == '\t' || c == '\n' || c == '\r') k |= kLineStop;
    if ((k & kNameStart) || c >= 0x80) k |= kNameStartUtf8;
    if ((k & kNameChar) || c >= 0x80) k |= kNameCharUtf8;
    if (markup || (control && c != '\t' && c != '\n')) k |= kEscapeTextUtf8;
    if (markup || control) k |= kEscapeAttrUtf8;
    const bool oddControl = control && c != '\t' && c != '\n';
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') k |= kXmlSpace;
    if (oddControl || c >= 0x80 || c == '<' || c == '&' || c == ']') k |= kStrictText;
    if (control || c >= 0x80 || c == '<' || c == '&' || c == '"' || c == '\'') k |= kStrictValue;
    if (oddControl || c >= 0x80 || c == '-' || c == '?' || c == ']') k |= kStrictBody;
    return k;
}

struct ByteClassTable {
    unsigned short cls[256];
    constexpr ByteClassTable() : cls() {
        for (unsigned c = 0; c < 256; ++c) cls[c] = ClassOf(c);
    }
};

inline constexpr ByteClassTable kByteClasses{};

// Whether byte c (any char, signed or not) has one of the classes in mask.
inline bool Is(char c, unsigned mask) {
    return (kByteClasses.cls[static_cast<unsigned char>(c)] & mask) != 0;
}

// ASCII lower case; every other byte is left as it is.
inline char ToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Rows and columns counted by a text read that condenses white space, as the
// tracker would count them, so that it need not walk the text again: there
// every line stop (tab, line feed, carriage return) is white space that the
// read skips, and runs between them are plain columns.
struct LineCount {
    int row;
    int col;           // the column at from
    const char* from;  // where the last line stop ended
    int tabSize;

    // Skips white space at p, counting the line stops in it; returns its end.
    const char* Skip(const char* p) {
        for (;; ++p) {
            const char c = *p;
            if (c == ' ') continue;
            if (c == '\t') {
                col = ((col + static_cast<int>(p - from)) / tabSize + 1) * tabSize;
                from = p + 1;
            } else if (c == '\n' || c == '\r') {
                ++row;
                if (p[1] == (c == '\n' ? '\r' : '\n')) ++p;  // the pair is one line end
                col = 0;
                from = p + 1;
            } else if (!Is(c, kSpace)) {
                return p;
            }
        }
    }

    VelkCursor At(const char* p) const {
        VelkCursor cursor;
        cursor.row = row;
        cursor.col = col + static_cast<int>(p - from);
        return cursor;
    }
};

// XML's characters by code point: Char, NameStartChar and NameChar.
inline bool IsXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

inline bool IsNameStartChar(unsigned long c) {
    if (c < 0x80) return Is(static_cast<char>(c), kAlpha) || c == '_' || c == ':';
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

inline bool IsNameChar(unsigned long c) {
    if (c < 0x80) return Is(static_cast<char>(c), kNameChar);
    return IsNameStartChar(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
           (c >= 0x203F && c <= 0x2040);
}

// Decodes the UTF-8 character at p, before end, into *c: its length, or 0
// when the bytes there are no well-formed UTF-8 (a stray continuation byte, a
// sequence cut short, an overlong form, a surrogate, a code point above
// U+10FFFF). Bytes are read one at a time up to the first that breaks the
// sequence, so a NUL ends it inside NUL-terminated text.
inline std::size_t DecodeUtf8(const char* p, const char* end, unsigned long* c) {
    const auto byte = [p](std::size_t i) { return static_cast<unsigned char>(p[i]); };
    if (p >= end) return 0;
    const unsigned char b = byte(0);
    std::size_t n;
    unsigned long min;
    if (b < 0x80) {
        *c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        n = 2, min = 0x80, *c = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3, min = 0x800, *c = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4, min = 0x10000, *c = b & 0x07u;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return 0;
        *c = (*c << 6) | (byte(i) & 0x3Fu);
    }
    if (*c < min || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return 0;
    return n;
}

// Appends the UTF-8 bytes of code point c.
inline void AppendUtf8(unsigned long c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
        return;
    }
    char bytes[4];
    const std::size_t n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    static const unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::size_t i = n - 1; i > 0; --i, c >>= 6)
        bytes[i] = static_cast<char>(0x80 | (c & 0x3F));
    bytes[0] = static_cast<char>(kLead[n] | c);
    out->append(bytes, n);
}

// Reaches the fields that the public classes keep to themselves.
struct VelkAccess {
    // Takes item out of a list of nodes or attributes linked both ways, whose
    // ends are first and last; the item's own links are left as they were.
    template <class T>
    static void Unlink(T* item, T*& first, T*& last) {
        if (item->next) {
            item->next->prev = item->prev;
        } else {
            last = item->prev;
        }
        if (item->prev) {
            item->prev->next = item->next;
        } else {
            first = item->next;
        }
    }
    static VelkCursor& Location(VelkBase& item) { return item.location; }
    static VelkDocument*& Document(VelkParsingData& data) { return data.document; }
    static const char*& Stamped(VelkParsingData& data) { return data.stamp; }
    static int TabSize(const VelkParsingData& data) { return data.tabSize; }
    static VelkCursor& Cursor(VelkParsingData& data) { return data.cursor; }
    static bool& Utf8(VelkAttribute& attribute) { return attribute.utf8; }
    // Whether a parse placed the object in its document's slabs.
    static bool& InSlab(VelkAttribute& attribute) { return attribute.inSlab; }
    static bool& InSlab(VelkNode& node) { return node.inSlab; }
    static VelkString& Name(VelkAttribute& attribute) { return attribute.name; }
    static VelkString& Value(VelkAttribute& attribute) { return attribute.value; }
    static VelkString& Value(VelkNode& node) { return node.value; }
    static const VelkString& Value(const VelkNode& node) { return node.value; }
    static const VelkString& Value(const VelkAttribute& attribute) { return attribute.value; }
    static const VelkString& Name(const VelkAttribute& attribute) { return attribute.name; }
    static VelkNode*& Parent(VelkNode& node) { return node.parent; }
    static VelkAttributeSet& Attributes(VelkElement& element) { return element.attributeSet; }
    static const VelkAttributeSet& Attributes(const VelkElement& element) {
        return element.attributeSet;
    }
    // Appends an attribute whose name the caller knows to be new in the set.
    static void Append(VelkAttributeSet& set, VelkAttribute* attribute) {
        attribute->next = nullptr;
        attribute->prev = set.last;
        if (set.last) {
            set.last->next = attribute;
        } else {
            set.first = attribute;
        }
        set.last = attribute;
    }
    static void Adopt(VelkString& s, char* slot, std::size_t n) { s.Adopt(slot, n); }
    static bool Inside(const VelkString& s) { return s.Inside(); }
    static void PutInside(VelkString& s, const char* p, std::size_t n) { s.PutInside(p, n); }
    static void* TakeSlot(VelkString& s) { return s.TakeSlot(); }
    // Empties the set, returning its first attribute; the rest stay linked to it.
    static VelkAttribute* TakeAll(VelkAttributeSet& set) {
        VelkAttribute* first = set.first;
        set.first = nullptr;
        set.last = nullptr;
        return first;
    }
    static std::string& Version(VelkDeclaration& d) { return d.version; }
    static std::string& Encoding(VelkDeclaration& d) { return d.encoding; }
    static std::string& Standalone(VelkDeclaration& d) { return d.standalone; }
    // Hands from's children over to to, which has none.
    static void MoveChildren(VelkNode& to, VelkNode& from) {
        to.firstChild = from.firstChild;
        to.lastChild = from.lastChild;
        from.firstChild = from.lastChild = nullptr;
        for (VelkNode* child = to.firstChild; child; child = child->next) child->parent = &to;
    }
    static void*& ClientData(VelkNode& node) { return node.clientData; }
    using Arena = VelkDocument::Arena;
    static Arena& Memory(VelkDocument& document) { return document.arena; }
    static VelkCursor& ErrorCursor(VelkDocument& document) { return document.errorCursor; }
    static const std::string& Version(const VelkDeclaration& d) { return d.version; }
    static const std::string& Encoding(const VelkDeclaration& d) { return d.encoding; }
    static const std::string& Standalone(const VelkDeclaration& d) { return d.standalone; }
};

// Reads the text [p, end) into document as XML 1.0 (velkstrict.cpp), appending
// the top-level nodes and recording the first violation of a well-formedness
// rule; a NUL byte before end is a character XML does not allow, memory
// running out is VELK_ERROR_ALLOCATION (nothing is thrown). Always null.
const char* ParseStrict(VelkDocument* document, const char* p, const char* end,
                        VelkParsingData* prevData);

}  // namespace TAVARO

#endif  // VELK_BASE_VELKINTERN_H
