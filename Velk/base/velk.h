// Velk: a small XML document object model.
//
// Parse XML text (a file, a NUL-terminated buffer or a stream) into a tree of
// nodes, walk and edit it, and write it back pretty-printed to a stdio FILE or
// compact to a stream or string. Each document reads and writes its text in
// one of two character models: the UTF-8 model (SetUtf8), in which text is
// UTF-8 as XML defines it and every character reference decodes to UTF-8, or
// the byte model, the default, in which a byte is a character. No other
// encoding is converted. A document read strictly (SetStrict) is read as
// XML 1.0 with its internal DTD subset, and its first well-formedness error
// is recorded. The library throws no exceptions of its own. This
// header compiles as C++11 and later; the library itself is built as C++17.
#ifndef VELK_BASE_VELK_H
#define VELK_BASE_VELK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iosfwd>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

// The std::string_view forms need C++17; the rest of the header needs C++11.
#if __cplusplus >= 201703L || (defined(_MSVC_LANG) && _MSVC_LANG >= 201703L)
#include <string_view>
#define VELK_HAS_STRING_VIEW 1
#else
#define VELK_HAS_STRING_VIEW 0
#endif

#define VELK_VERSION_MAJOR 3
#define VELK_VERSION_MINOR 0
#define VELK_VERSION_PATCH 0

#if defined(_WIN32) && !defined(VELK_STATIC)
#if defined(VELK_BUILDING)
#define VELK_API __declspec(dllexport)
#else
#define VELK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VELK_API __attribute__((visibility("default")))
#else
#define VELK_API
#endif

namespace TAVARO {

class VelkDocument;
class VelkElement;
class VelkComment;
class VelkUnknown;
class VelkAttribute;
class VelkText;
class VelkDeclaration;
class VelkParsingData;
template <class Item>
class VelkChildIterator;
template <class Item>
class VelkAttributeIterator;

// Results of the attribute queries.
enum { VELK_ATTR_OK = 0, VELK_ATTR_MISSING = 1, VELK_ATTR_NOT_NUMERIC = 2 };

// Error codes recorded by a document; VelkBase::errorString holds their messages.
enum {
    VELK_NO_ERROR = 0,
    VELK_ERROR,
    VELK_ERROR_OPEN_FILE,
    VELK_ERROR_ALLOCATION,
    VELK_ERROR_PARSE_ELEMENT,
    VELK_ERROR_ELEMENT_NAME,
    VELK_ERROR_ELEMENT_VALUE,
    VELK_ERROR_ATTRIBUTES,
    VELK_ERROR_EMPTY_TAG,
    VELK_ERROR_END_TAG,
    VELK_ERROR_PARSE_UNKNOWN,
    VELK_ERROR_PARSE_COMMENT,
    VELK_ERROR_PARSE_DECLARATION,
    VELK_ERROR_DOCUMENT_EMPTY,
    VELK_ERROR_TEXT_OUTSIDE_ELEMENT,
    VELK_ERROR_END_TAG_UNEXPECTED,
    VELK_ERROR_CDATA_UNCLOSED,
    VELK_ERROR_CHARACTER,
    VELK_ERROR_MULTIPLE_ROOTS,
    VELK_ERROR_ENTITY_UNDECLARED,
    VELK_ERROR_END_TAG_MISMATCH,
    VELK_ERROR_COMMENT_HYPHENS,
    VELK_ERROR_NAME,
    VELK_ERROR_TAG,
    VELK_ERROR_ATTRIBUTE_SPACE,
    VELK_ERROR_ATTRIBUTE_UNQUOTED,
    VELK_ERROR_ATTRIBUTE_LT,
    VELK_ERROR_ATTRIBUTE_TWICE,
    VELK_ERROR_REFERENCE,
    VELK_ERROR_CHARACTER_REFERENCE,
    VELK_ERROR_CDATA_END_IN_TEXT,
    VELK_ERROR_UTF8,
    VELK_ERROR_PI_TARGET,
    VELK_ERROR_MARKUP,
    VELK_ERROR_XML_DECLARATION,
    VELK_ERROR_ENCODING,
    VELK_ERROR_MISPLACED,
    VELK_ERROR_DOCTYPE,
    VELK_ERROR_UNCLOSED,
    VELK_ERROR_DTD_SYNTAX,
    VELK_ERROR_PE_IN_DECLARATION,
    VELK_ERROR_ENTITY_RECURSION,
    VELK_ERROR_ENTITY_EXTERNAL,
    VELK_ERROR_ENTITY_UNPARSED,
    VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE,
    VELK_ERROR_ENTITY_CONTENT,
    VELK_ERROR_ENTITY_DEPTH,
    VELK_ERROR_ENTITY_EXPANSION,
    VELK_ERROR_STRING_COUNT
};

// The text of a name, a value or a text node, owned by the object that holds
// it: up to 15 bytes inside the object itself, longer text in memory of its
// own (the document's slabs for what a parse reads, the heap otherwise).
// Always NUL-terminated. The library's classes use it; callers see const char*.
class VELK_API VelkString {
public:
    VelkString() { Clear(); }
    VelkString(const VelkString& other);
    VelkString& operator=(const VelkString& other);
    ~VelkString() {
        if (!Inside()) Release();
    }

    const char* c_str() const { return Inside() ? bytes : OutsideData(); }
    std::size_t size() const { return Inside() ? kInside - Mode() : OutsideSize(); }
    bool empty() const { return size() == 0; }

    // Replaces the text with a copy of the n bytes at p (which may lie in it);
    // false, leaving it empty, when memory runs out.
    bool Assign(const char* p, std::size_t n);
    // Exchanges the texts of two strings.
    void swap(VelkString& other) {
        char mine[sizeof bytes];
        std::memcpy(mine, bytes, sizeof bytes);
        std::memcpy(bytes, other.bytes, sizeof bytes);
        std::memcpy(other.bytes, mine, sizeof bytes);
    }

private:
    // The text in place of the old one, in a slot of memory that the library
    // placed (see velk.cpp); slot holds n bytes and their terminating NUL.
    void Adopt(char* slot, std::size_t n);
    // Empties the string and returns the slot that its text was kept in, for
    // the caller to give up; null (and nothing changed) when it had none.
    void* TakeSlot() {
        if (Mode() != kInSlot) return nullptr;
        void* slot = const_cast<char*>(OutsideData());
        Clear();
        return slot;
    }

    // bytes[kInside] tells where the text is: up to kInside, it holds kInside
    // minus the length of text kept in bytes (0 for 15 bytes, doubling as their
    // NUL); above, the text is elsewhere, and the pointer and the length are
    // stored in bytes.
    enum : unsigned char { kInside = 15, kInSlot = 0x40, kOnHeap = 0x41 };

    unsigned char Mode() const { return static_cast<unsigned char>(bytes[kInside]); }
    bool Inside() const { return Mode() <= kInside; }
    void Clear() {
        bytes[0] = 0;
        bytes[kInside] = static_cast<char>(kInside);
    }
    const char* OutsideData() const {
        const char* data;
        std::memcpy(&data, bytes, sizeof data);
        return data;
    }
    // The length goes in the seven bytes after the pointer's eight, below the mode.
    static bool LittleEndian() {
        const std::uint16_t one = 1;
        unsigned char first;
        std::memcpy(&first, &one, 1);
        return first == 1;
    }
    std::size_t OutsideSize() const {
        std::uint64_t word;
        std::memcpy(&word, bytes + 8, sizeof word);
        return static_cast<std::size_t>(LittleEndian() ? word & 0x00FFFFFFFFFFFFFFu : word >> 8);
    }
    void PutInside(const char* p, std::size_t n);
    void SetOutside(const char* data, std::size_t n, unsigned char mode);
    // Frees text kept elsewhere; the bytes are left for the caller to set.
    void Release();

    char bytes[16];

    friend struct VelkAccess;
};

// Limits on the entities of a DOCTYPE's internal subset, against hostile
// input; no honest document comes near them. A reference expanded inside more
// than VELK_ENTITY_DEPTH_MAX others records VELK_ERROR_ENTITY_DEPTH; when the
// replacement texts included in one parse exceed VELK_ENTITY_EXPANSION_BASE
// bytes plus VELK_ENTITY_EXPANSION_FACTOR times the input's size, the parse
// records VELK_ERROR_ENTITY_EXPANSION.
enum {
    VELK_ENTITY_DEPTH_MAX = 64,
    VELK_ENTITY_EXPANSION_FACTOR = 100,
    VELK_ENTITY_EXPANSION_BASE = 1024 * 1024
};

// A row and column in parsed text, both counted from 0; -1 means no position.
class VELK_API VelkCursor {
public:
    VelkCursor() { Clear(); }
    // Sets both fields to -1.
    void Clear() { row = col = -1; }

    int row;
    int col;
};

// A name or a value handed to the library as a C string, a std::string or a
// std::string_view: its bytes and their count, in the caller's memory. The
// overloads that take one stand beside those that take const char*.
class VelkStringRef {
public:
    VelkStringRef(const char* text) : bytes(text), length(std::strlen(text)) {}
    VelkStringRef(const std::string& text) : bytes(text.data()), length(text.size()) {}
    VelkStringRef(const char* p, std::size_t n) : bytes(p), length(n) {}

    const char* data() const { return bytes; }
    std::size_t size() const { return length; }

#if VELK_HAS_STRING_VIEW
    VelkStringRef(std::string_view text) : bytes(text.data()), length(text.size()) {}
#endif

private:
    const char* bytes;
    std::size_t length;
};

// A pair of iterators for range-for: for (VelkNode& child : node.Children()).
template <class Iterator>
class VelkRange {
public:
    VelkRange(Iterator first, Iterator last) : first(first), last(last) {}

    Iterator begin() const { return first; }
    Iterator end() const { return last; }
    bool empty() const { return first == last; }

private:
    Iterator first;
    Iterator last;
};

// The root of everything that can be parsed and printed: nodes and attributes.
class VELK_API VelkBase {
public:
    // The error codes again, so that they read as VelkDocument::VELK_ERROR_OPEN_FILE.
    enum {
        VELK_NO_ERROR = TAVARO::VELK_NO_ERROR,
        VELK_ERROR = TAVARO::VELK_ERROR,
        VELK_ERROR_OPEN_FILE = TAVARO::VELK_ERROR_OPEN_FILE,
        VELK_ERROR_ALLOCATION = TAVARO::VELK_ERROR_ALLOCATION,
        VELK_ERROR_PARSE_ELEMENT = TAVARO::VELK_ERROR_PARSE_ELEMENT,
        VELK_ERROR_ELEMENT_NAME = TAVARO::VELK_ERROR_ELEMENT_NAME,
        VELK_ERROR_ELEMENT_VALUE = TAVARO::VELK_ERROR_ELEMENT_VALUE,
        VELK_ERROR_ATTRIBUTES = TAVARO::VELK_ERROR_ATTRIBUTES,
        VELK_ERROR_EMPTY_TAG = TAVARO::VELK_ERROR_EMPTY_TAG,
        VELK_ERROR_END_TAG = TAVARO::VELK_ERROR_END_TAG,
        VELK_ERROR_PARSE_UNKNOWN = TAVARO::VELK_ERROR_PARSE_UNKNOWN,
        VELK_ERROR_PARSE_COMMENT = TAVARO::VELK_ERROR_PARSE_COMMENT,
        VELK_ERROR_PARSE_DECLARATION = TAVARO::VELK_ERROR_PARSE_DECLARATION,
        VELK_ERROR_DOCUMENT_EMPTY = TAVARO::VELK_ERROR_DOCUMENT_EMPTY,
        VELK_ERROR_TEXT_OUTSIDE_ELEMENT = TAVARO::VELK_ERROR_TEXT_OUTSIDE_ELEMENT,
        VELK_ERROR_END_TAG_UNEXPECTED = TAVARO::VELK_ERROR_END_TAG_UNEXPECTED,
        VELK_ERROR_CDATA_UNCLOSED = TAVARO::VELK_ERROR_CDATA_UNCLOSED,
        VELK_ERROR_CHARACTER = TAVARO::VELK_ERROR_CHARACTER,
        VELK_ERROR_MULTIPLE_ROOTS = TAVARO::VELK_ERROR_MULTIPLE_ROOTS,
        VELK_ERROR_ENTITY_UNDECLARED = TAVARO::VELK_ERROR_ENTITY_UNDECLARED,
        VELK_ERROR_END_TAG_MISMATCH = TAVARO::VELK_ERROR_END_TAG_MISMATCH,
        VELK_ERROR_COMMENT_HYPHENS = TAVARO::VELK_ERROR_COMMENT_HYPHENS,
        VELK_ERROR_NAME = TAVARO::VELK_ERROR_NAME,
        VELK_ERROR_TAG = TAVARO::VELK_ERROR_TAG,
        VELK_ERROR_ATTRIBUTE_SPACE = TAVARO::VELK_ERROR_ATTRIBUTE_SPACE,
        VELK_ERROR_ATTRIBUTE_UNQUOTED = TAVARO::VELK_ERROR_ATTRIBUTE_UNQUOTED,
        VELK_ERROR_ATTRIBUTE_LT = TAVARO::VELK_ERROR_ATTRIBUTE_LT,
        VELK_ERROR_ATTRIBUTE_TWICE = TAVARO::VELK_ERROR_ATTRIBUTE_TWICE,
        VELK_ERROR_REFERENCE = TAVARO::VELK_ERROR_REFERENCE,
        VELK_ERROR_CHARACTER_REFERENCE = TAVARO::VELK_ERROR_CHARACTER_REFERENCE,
        VELK_ERROR_CDATA_END_IN_TEXT = TAVARO::VELK_ERROR_CDATA_END_IN_TEXT,
        VELK_ERROR_UTF8 = TAVARO::VELK_ERROR_UTF8,
        VELK_ERROR_PI_TARGET = TAVARO::VELK_ERROR_PI_TARGET,
        VELK_ERROR_MARKUP = TAVARO::VELK_ERROR_MARKUP,
        VELK_ERROR_XML_DECLARATION = TAVARO::VELK_ERROR_XML_DECLARATION,
        VELK_ERROR_ENCODING = TAVARO::VELK_ERROR_ENCODING,
        VELK_ERROR_MISPLACED = TAVARO::VELK_ERROR_MISPLACED,
        VELK_ERROR_DOCTYPE = TAVARO::VELK_ERROR_DOCTYPE,
        VELK_ERROR_UNCLOSED = TAVARO::VELK_ERROR_UNCLOSED,
        VELK_ERROR_DTD_SYNTAX = TAVARO::VELK_ERROR_DTD_SYNTAX,
        VELK_ERROR_PE_IN_DECLARATION = TAVARO::VELK_ERROR_PE_IN_DECLARATION,
        VELK_ERROR_ENTITY_RECURSION = TAVARO::VELK_ERROR_ENTITY_RECURSION,
        VELK_ERROR_ENTITY_EXTERNAL = TAVARO::VELK_ERROR_ENTITY_EXTERNAL,
        VELK_ERROR_ENTITY_UNPARSED = TAVARO::VELK_ERROR_ENTITY_UNPARSED,
        VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE = TAVARO::VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE,
        VELK_ERROR_ENTITY_CONTENT = TAVARO::VELK_ERROR_ENTITY_CONTENT,
        VELK_ERROR_ENTITY_DEPTH = TAVARO::VELK_ERROR_ENTITY_DEPTH,
        VELK_ERROR_ENTITY_EXPANSION = TAVARO::VELK_ERROR_ENTITY_EXPANSION,
        VELK_ERROR_STRING_COUNT = TAVARO::VELK_ERROR_STRING_COUNT
    };

    // One row of the entity table: the entity as written and the character it stands for.
    struct Entity {
        const char* str;
        unsigned int strLength;
        char chr;
    };

    // An owned NUL-terminated copy of a string; buffer is null when allocation failed.
    class VELK_API StringToBuffer {
    public:
        explicit StringToBuffer(const std::string& input);
        ~StringToBuffer();

        char* buffer;

    private:
        StringToBuffer(const StringToBuffer&) = delete;
        StringToBuffer& operator=(const StringToBuffer&) = delete;
    };

    VelkBase() {}
    virtual ~VelkBase() {}

    // Writes the item pretty-printed, indented by depth levels of four spaces.
    virtual void Print(FILE* file, int depth) const = 0;
    // Writes the item in compact form.
    virtual void StreamOut(std::ostream* out) const = 0;
    // Parses the item from NUL-terminated text, tracking rows and columns in data
    // (may be null); returns where the caller goes on, or null on failure.
    virtual const char* Parse(const char* p, VelkParsingData* data) = 0;

    // Where the item began in the text it was parsed from; (-1, -1) if not parsed.
    const VelkCursor& Location() const { return location; }

    // Whether text content is condensed: leading and trailing white space dropped,
    // inner runs turned into one space. True at start; set it before parsing.
    static bool condenseWhiteSpace;
    // The fixed message of each error code.
    static const char* const errorString[VELK_ERROR_STRING_COUNT];
    // The five named entities, in the order &amp; &lt; &gt; &quot; &apos;.
    static const Entity entity[5];

    // Scanner over NUL-terminated text. A null position means failure or nothing left.
    // The first non-white-space position at or after p; null if p is null or at the end.
    static const char* SkipWhiteSpace(const char* p);
    // Space, tab, line feed, vertical tab, form feed or carriage return.
    static bool IsWhiteSpace(int c);
    // Reads a name (a letter or '_', then letters, digits, '_', '-', '.', ':').
    static const char* ReadName(const char* p, std::string* name);
    // Reads one character, decoding an entity or character reference.
    static const char* GetChar(const char* p, char* value);
    // Decodes the reference at '&': &#xH; &#xHH; or a named entity; else '&' itself.
    static const char* GetEntity(const char* p, char* value);
    // Whether the text at p begins with tag.
    static bool StringEqual(const char* p, const char* tag, bool caseSensitive);
    // Reads decoded text up to endTag and returns the position after it (or the end).
    static const char* ReadText(const char* p, std::string* text, bool trimWhiteSpace,
                                const char* endTag, bool caseSensitive);

    // Stream scanners used by StreamIn; each moves the characters it consumes to tag.
    // Moves white space; false when the stream went bad.
    static bool StreamWhiteSpace(std::istream* in, std::string* tag);
    // Moves characters up to character, which stays unread; false if the stream ends first.
    static bool StreamTo(std::istream* in, int character, std::string* tag);

    // Escapes & < > " ' as entities and bytes outside printable ASCII as &#xHH;,
    // passing an existing "&#x...;" through; appends to out or writes to stream.
    static void PutString(const std::string& input, std::string* out);
    static void PutString(const std::string& input, std::ostream* stream);

    VelkBase(const VelkBase&) = delete;
    VelkBase& operator=(const VelkBase&) = delete;

    // Memory. The nodes, attributes and longer texts that a document's parse
    // creates live in slabs that the document fills; a slab goes back when the
    // last object in it is deleted, by whatever thread, whether or not the
    // document is still there. Everything else (nodes made with new, clones,
    // texts set by callers) comes from the general heap, one block each.
    // Objects sit at alignof(std::max_align_t) at least; a subclass that needs
    // more is allocated at its own alignment through C++17 aligned new (in
    // C++11 and C++14, where new ignores over-alignment, such subclasses are
    // not supported). Whatever deletes a node or an attribute (its parent,
    // Clear, RemoveChild, ReplaceChild, RemoveAttribute, delete) runs its
    // virtual destructor and the operator delete of its class, so subclasses
    // with several bases or their own operator new and delete work, and a
    // subclass's destructor sees its children and attributes in every case.
    // A deleted document keeps nothing: free slabs are kept in the process
    // for the next parses up to SpareMemoryLimit() bytes (4 MB unless set),
    // the rest go back to the heap at once, and all go back when the library
    // is unloaded. Allocation gives null when memory runs out, and a parse
    // that runs out records VELK_ERROR_ALLOCATION: nothing throws.
    static void* operator new(std::size_t size) noexcept;
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t, void* place) noexcept { return place; }
    static void operator delete(void* item) noexcept;
    static void operator delete(void* item, const std::nothrow_t&) noexcept;
    static void operator delete(void*, void*) noexcept {}
#if defined(__cpp_aligned_new)
    static void* operator new(std::size_t size, std::align_val_t align) noexcept;
    static void* operator new(std::size_t size, std::align_val_t align,
                              const std::nothrow_t&) noexcept;
    static void operator delete(void* item, std::align_val_t align) noexcept;
    static void operator delete(void* item, std::align_val_t align, const std::nothrow_t&) noexcept;
#endif
    // The most free slab memory kept for the next parses, in bytes (rounded
    // down to whole 64 KB slabs, 64 MB at most); setting it gives back the
    // excess at once. SpareMemory() is what is kept now; ReleaseSpareMemory()
    // gives it all back. Safe from any thread. A parse's tree takes a few
    // times its text in slabs, so the default serves documents of about a
    // megabyte without asking the heap; a caller that parses larger documents
    // again and again can raise the limit to the size of one parse's slabs,
    // which spares the heap calls and page faults of taking them anew (about
    // half the time of such a parse), at the cost of keeping that much memory
    // while no document uses it.
    static std::size_t SpareMemoryLimit();
    static void SetSpareMemoryLimit(std::size_t bytes);
    static std::size_t SpareMemory();
    static void ReleaseSpareMemory();

protected:
    VelkCursor location;

    friend struct VelkAccess;
};

// A node of the tree: its kind, its text value and its links to parent,
// children and siblings. A node owns its children.
class VELK_API VelkNode : public VelkBase {
public:
    enum NodeType { DOCUMENT, ELEMENT, COMMENT, UNKNOWN, TEXT, DECLARATION };

    // Deletes the children with their subtrees, first to last.
    ~VelkNode() override;

    // The value: a document's file name, an element's tag name, or the text.
    const char* Value() const { return value.c_str(); }
    std::string SValue() const { return std::string(value.c_str(), value.size()); }
    void SetValue(const char* text) { value.Assign(text, std::strlen(text)); }
    void SetValue(VelkStringRef text) { value.Assign(text.data(), text.size()); }
    // The value's length in bytes, without a copy (ValueView below gives a view).
    std::size_t ValueLength() const { return value.size(); }

    // Deletes every child.
    void Clear();

    // The parent, or null for a node in no tree.
    VelkNode* Parent() const { return parent; }
    // The first child, or null.
    VelkNode* FirstChild() const { return firstChild; }
    // The first child whose value equals name, or null.
    VelkNode* FirstChild(const char* name) const;
    VelkNode* FirstChild(VelkStringRef name) const;
    // The last child, or null.
    VelkNode* LastChild() const { return lastChild; }
    // The last child whose value equals name, or null.
    VelkNode* LastChild(const char* name) const;
    VelkNode* LastChild(VelkStringRef name) const;

    // The children, the child elements or the child elements named name, in
    // order, for range-for; a const node gives const ones. Nothing is allocated.
    // Unlinking or deleting the child an iterator stands on invalidates it; the
    // name must outlive the range (a temporary std::string is refused).
    VelkRange<VelkChildIterator<VelkNode>> Children();
    VelkRange<VelkChildIterator<const VelkNode>> Children() const;
    VelkRange<VelkChildIterator<VelkElement>> ChildElements();
    VelkRange<VelkChildIterator<const VelkElement>> ChildElements() const;
    VelkRange<VelkChildIterator<VelkElement>> ChildElements(const char* name);
    VelkRange<VelkChildIterator<const VelkElement>> ChildElements(const char* name) const;
    VelkRange<VelkChildIterator<VelkElement>> ChildElements(VelkStringRef name);
    VelkRange<VelkChildIterator<const VelkElement>> ChildElements(VelkStringRef name) const;
    void ChildElements(std::string&& name) = delete;
    void ChildElements(std::string&& name) const = delete;

    // Walks the children: null gives the first, a child gives the one after it.
    VelkNode* IterateChildren(VelkNode* previous) const;
    VelkNode* IterateChildren(const char* name, VelkNode* previous) const;
    VelkNode* IterateChildren(VelkStringRef name, VelkNode* previous) const;

    // Links node as the last child and takes ownership of it; returns it. The
    // tree deletes it, so it must be made with new (a debug build stops when
    // given a node on the stack).
    VelkNode* LinkEndChild(VelkNode* node);
    // Link node itself, which the tree then owns: last, before beforeThis, after
    // afterThis, or in the place of oldChild, which is deleted. They return the
    // node, or null when nothing was linked (no node, or a place that is not a
    // child of this node); the node then stays with the caller.
    template <class T>
    T* LinkEndChild(std::unique_ptr<T>&& node) {
        return Adopted(node, LinkEndChild(static_cast<VelkNode*>(node.get())));
    }
    template <class T>
    T* InsertBeforeChild(VelkNode* beforeThis, std::unique_ptr<T>&& node) {
        return Adopted(node, LinkBefore(beforeThis, node.get()));
    }
    template <class T>
    T* InsertAfterChild(VelkNode* afterThis, std::unique_ptr<T>&& node) {
        return Adopted(node, LinkAfter(afterThis, node.get()));
    }
    template <class T>
    T* ReplaceChild(VelkNode* oldChild, std::unique_ptr<T>&& node) {
        return Adopted(node, LinkInPlaceOf(oldChild, node.get()));
    }
    // Link a clone of source (which stays with the caller) last, before beforeThis
    // or after afterThis; return the clone, or null when nothing was linked.
    VelkNode* InsertEndChild(const VelkNode& source);
    VelkNode* InsertBeforeChild(VelkNode* beforeThis, const VelkNode& source);
    VelkNode* InsertAfterChild(VelkNode* afterThis, const VelkNode& source);
    // Puts a clone of source in the place of oldChild and deletes oldChild.
    VelkNode* ReplaceChild(VelkNode* oldChild, const VelkNode& source);
    // Unlinks and deletes a child; false (and nothing changed) if it is not a child.
    bool RemoveChild(VelkNode* child);

    // The sibling before this node (the nearest one of that value), or null.
    VelkNode* PreviousSibling() const { return prev; }
    VelkNode* PreviousSibling(const char* name) const;
    VelkNode* PreviousSibling(VelkStringRef name) const;
    // The sibling after this node (the nearest one of that value), or null.
    VelkNode* NextSibling() const { return next; }
    VelkNode* NextSibling(const char* name) const;
    VelkNode* NextSibling(VelkStringRef name) const;

    // The first element among the following siblings (of that name).
    VelkElement* NextSiblingElement() const;
    VelkElement* NextSiblingElement(const char* name) const;
    VelkElement* NextSiblingElement(VelkStringRef name) const;
    // The first element among the children (of that name).
    VelkElement* FirstChildElement() const;
    VelkElement* FirstChildElement(const char* name) const;
    VelkElement* FirstChildElement(VelkStringRef name) const;

    // The document this node belongs to (itself for a document), or null.
    VelkDocument* GetDocument() const;

    // This node as its kind, or null when it is of another kind.
    VelkDocument* ToDocument() const;
    VelkElement* ToElement() const;
    VelkText* ToText() const;

    // The node kind, a NodeType.
    virtual int Type() const { return type; }
    // A deep copy owned by the caller, or null when it cannot be allocated.
    virtual VelkNode* Clone() const = 0;
    std::unique_ptr<VelkNode> CloneUnique() const { return std::unique_ptr<VelkNode>(Clone()); }

    using VelkBase::Print;
    // The pretty form, byte for byte what Print writes to a FILE: appended to
    // out, or written to a stream.
    void Print(std::string* out, int depth = 0) const;
    void Print(std::ostream& out, int depth = 0) const;
    // Reads one node's markup from the stream into tag.
    virtual void StreamIn(std::istream* in, std::string* tag) = 0;

    // Creates (without parsing or linking) the node for the markup at p, with
    // this node as its parent; null when no markup starts there.
    VelkNode* Identify(const char* p);
    // Copies the value and the client data into target.
    void CopyToClone(VelkNode* target) const;

    // A word that belongs to the caller; copied into clones.
    void* ClientData() const { return clientData; }
    void SetClientData(void* data) { clientData = data; }

protected:
    explicit VelkNode(NodeType nodeType);

private:
    bool ValueEquals(const char* p, std::size_t n) const {
        return value.size() == n && std::memcmp(value.c_str(), p, n) == 0;
    }
    // The adoption behind the unique_ptr forms; null when nothing was linked.
    VelkNode* LinkBefore(VelkNode* beforeThis, VelkNode* node);
    VelkNode* LinkAfter(VelkNode* afterThis, VelkNode* node);
    VelkNode* LinkInPlaceOf(VelkNode* oldChild, VelkNode* node);
    template <class T>
    static T* Adopted(std::unique_ptr<T>& node, const VelkNode* linked) {
        return linked ? node.release() : nullptr;
    }

    VelkNode* parent;
    VelkNode* firstChild;
    VelkNode* lastChild;
    VelkString value;
    VelkNode* prev;
    VelkNode* next;
    void* clientData;
    NodeType type;  // last, so that a derived class's small field fills the padding after it
    bool inSlab;    // placed by a parse in its document's slabs

    friend struct VelkAccess;
    template <class Item>
    friend class VelkChildIterator;

#if VELK_HAS_STRING_VIEW
public:
    // The value as a view, without a copy.
    std::string_view ValueView() const {
        return std::string_view(value.c_str(), value.size());
    }
#endif
};

// A name/value pair of an element, linked in its element's attribute set.
class VELK_API VelkAttribute : public VelkBase {
public:
    // A free attribute, in no set: empty, or with the given name and value.
    VelkAttribute();
    VelkAttribute(const char* name, const char* value);
    VelkAttribute(VelkStringRef name, VelkStringRef value);
    ~VelkAttribute() override;

    // The name and the value as stored (references decoded).
    const char* Name() const { return name.c_str(); }
    const char* Value() const { return value.c_str(); }
    void SetValue(const char* text) { value.Assign(text, std::strlen(text)); }
    void SetValue(VelkStringRef text) { value.Assign(text.data(), text.size()); }
    // Their lengths in bytes, without a copy (NameView and ValueView below give views).
    std::size_t NameLength() const { return name.size(); }
    std::size_t ValueLength() const { return value.size(); }

    // The value as a number: atoi/atof, 0 when it does not start with one.
    int IntValue() const;
    double DoubleValue() const;
    // VELK_ATTR_OK with *out set, or VELK_ATTR_NOT_NUMERIC with *out untouched.
    int QueryIntValue(int* out) const;
    int QueryDoubleValue(double* out) const;
    // Store a number as text ("%d", "%lf").
    void SetIntValue(int v);
    void SetDoubleValue(double v);

    // The neighbours in the set; null at either end and for a free attribute.
    VelkAttribute* Next() const { return next; }
    VelkAttribute* Previous() const { return prev; }

    // Takes the character model of doc (see VelkDocument::SetUtf8) for this
    // attribute's own Parse and output; the document itself is not kept, so
    // an attribute may outlive it.
    void SetDocument(const VelkDocument* doc);

    // Writes name="value" (name='value' when the value holds a double quote), escaped;
    // to a FILE, appended to a string or to a stream.
    void Print(FILE* file, int depth) const override;
    void Print(std::string* out, int depth = 0) const;
    void Print(std::ostream& out, int depth = 0) const;
    void StreamOut(std::ostream* out) const override;
    // Reads name = value, the value quoted with ' or " (references decoded) or bare.
    const char* Parse(const char* p, VelkParsingData* data) override;

private:
    VelkString name;
    VelkString value;
    VelkAttribute* prev;  // null at the ends of a set and outside one
    VelkAttribute* next;
    bool utf8;    // the character model of its own Parse and output
    bool inSlab;  // placed by a parse in its document's slabs

    friend class VelkAttributeSet;
    friend struct VelkAccess;
    template <class Item>
    friend class VelkAttributeIterator;

#if VELK_HAS_STRING_VIEW
public:
    // The name and the value as views, without a copy.
    std::string_view NameView() const {
        return std::string_view(name.c_str(), name.size());
    }
    std::string_view ValueView() const {
        return std::string_view(value.c_str(), value.size());
    }
#endif
};

// The ordered attributes of an element, linked both ways from the first to the
// last. The set links attributes; their owner creates and deletes them.
class VELK_API VelkAttributeSet {
public:
    // An empty set. Destroying a set deletes no attribute.
    VelkAttributeSet();
    ~VelkAttributeSet();

    // Appends an attribute that is in no set and whose name is not in this one.
    void Add(VelkAttribute* addMe);
    // Unlinks an attribute of this set without deleting it.
    void Remove(VelkAttribute* removeMe);

    // The first and last attributes, or null when the set is empty.
    VelkAttribute* First() const;
    VelkAttribute* Last() const;
    // The attribute with exactly this name, or null.
    VelkAttribute* Find(const char* name) const;
    VelkAttribute* Find(VelkStringRef name) const;

    VelkAttributeSet(const VelkAttributeSet&) = delete;
    VelkAttributeSet& operator=(const VelkAttributeSet&) = delete;

private:
    VelkAttribute* first;
    VelkAttribute* last;

    friend struct VelkAccess;
};

// The type a number is written as: bool, float and double as themselves, other
// floating-point types as double, integers as the widest of their signedness.
template <class Number>
struct VelkNumberType {
    typedef typename std::conditional<
        std::is_same<Number, bool>::value || std::is_same<Number, float>::value, Number,
        typename std::conditional<
            std::is_floating_point<Number>::value, double,
            typename std::conditional<std::is_signed<Number>::value, long long,
                                      unsigned long long>::type>::type>::type type;
};

// An element: a tag name, ordered attributes and any number of children.
class VELK_API VelkElement : public VelkNode {
public:
    // An element named value, without attributes or children.
    explicit VelkElement(const char* value);
    explicit VelkElement(VelkStringRef value);
    // Deletes the attributes, then the children.
    ~VelkElement() override;

    // The value of attribute name, or null.
    const char* Attribute(const char* name) const;
    const char* Attribute(VelkStringRef name) const;
    // The same; also stores atoi/atof of the value (0 when missing) in *i or *d.
    const char* Attribute(const char* name, int* i) const;
    const char* Attribute(const char* name, double* d) const;
    const char* Attribute(VelkStringRef name, int* i) const;
    const char* Attribute(VelkStringRef name, double* d) const;
    // VELK_ATTR_OK, VELK_ATTR_MISSING or VELK_ATTR_NOT_NUMERIC; *value set only on OK.
    int QueryIntAttribute(const char* name, int* value) const;
    int QueryDoubleAttribute(const char* name, double* value) const;
    int QueryIntAttribute(VelkStringRef name, int* value) const;
    int QueryDoubleAttribute(VelkStringRef name, double* value) const;

    // The value of attribute name as a number or a boolean ("true", "false",
    // "1" or "0"): defaultValue when the attribute is missing or its value, white
    // space around it aside, is not wholly one that fits the type.
    int IntAttribute(VelkStringRef name, int defaultValue = 0) const;
    std::int64_t Int64Attribute(VelkStringRef name, std::int64_t defaultValue = 0) const;
    std::uint64_t Uint64Attribute(VelkStringRef name, std::uint64_t defaultValue = 0) const;
    double DoubleAttribute(VelkStringRef name, double defaultValue = 0) const;
    bool BoolAttribute(VelkStringRef name, bool defaultValue = false) const;

    // Sets attribute name, appending it when it does not exist.
    void SetAttribute(const char* name, const char* value);
    void SetAttribute(const char* name, int value);
    void SetAttribute(VelkStringRef name, VelkStringRef value);
    // Sets attribute name to a number or a boolean: integers in decimal, floating-
    // point numbers in the shortest form that reads back as the same number
    // ("1.5", "1e+20"), booleans as "true" or "false".
    template <class Number,
              class = typename std::enable_if<std::is_arithmetic<Number>::value>::type>
    void SetAttribute(const char* name, Number value) {
        SetNumber(VelkStringRef(name), static_cast<typename VelkNumberType<Number>::type>(value));
    }
    template <class Number,
              class = typename std::enable_if<std::is_arithmetic<Number>::value>::type>
    void SetAttribute(VelkStringRef name, Number value) {
        SetNumber(name, static_cast<typename VelkNumberType<Number>::type>(value));
    }
    // Removes and deletes attribute name, if there is one.
    void RemoveAttribute(const char* name);
    void RemoveAttribute(VelkStringRef name);

    // The value of the first text child (a CDATA section included), or null
    // when the element has none.
    const char* Text() const;

    // The first and last attributes, or null when there are none.
    VelkAttribute* FirstAttribute() const { return attributeSet.First(); }
    VelkAttribute* LastAttribute() const { return attributeSet.Last(); }
    // The attributes in order, for range-for; a const element gives const ones.
    VelkRange<VelkAttributeIterator<VelkAttribute>> Attributes();
    VelkRange<VelkAttributeIterator<const VelkAttribute>> Attributes() const;

    // A deep copy: name, attributes, children and client data.
    VelkNode* Clone() const override;
    // Writes <name attributes />, or the start tag, the children and the end tag;
    // pretty-printed, an element whose only child is a text stays on one line.
    using VelkNode::Print;
    void Print(FILE* file, int depth) const override;
    void StreamOut(std::ostream* out) const override;
    // Reads the start tag, then the content up to the matching end tag.
    const char* Parse(const char* p, VelkParsingData* data) override;
    // Reads the rest of the element, nested elements included, up to its end tag.
    void StreamIn(std::istream* in, std::string* tag) override;

    // Reads the content up to the "</" that ends it, linking the children; returns
    // the position of that "</", the end of the input, or null.
    const char* ReadValue(const char* p, VelkParsingData* data);

private:
    void SetNumber(VelkStringRef name, long long value);
    void SetNumber(VelkStringRef name, unsigned long long value);
    void SetNumber(VelkStringRef name, double value);
    void SetNumber(VelkStringRef name, float value);
    void SetNumber(VelkStringRef name, bool value);

    VelkAttributeSet attributeSet;

    friend struct VelkAccess;
};

// A comment: the text between "<!--" and "-->".
class VELK_API VelkComment : public VelkNode {
public:
    // An empty comment; SetValue gives it its text.
    VelkComment() : VelkNode(COMMENT) {}
    ~VelkComment() override {}

    VelkNode* Clone() const override;
    // Writes <!--text-->: as stored when pretty-printed, escaped in compact form.
    using VelkNode::Print;
    void Print(FILE* file, int depth) const override;
    void StreamOut(std::ostream* out) const override;
    // Reads "<!--", the text verbatim (references decoded), then "-->".
    const char* Parse(const char* p, VelkParsingData* data) override;
    void StreamIn(std::istream* in, std::string* tag) override;
};

// Character data between tags, entity references decoded; or the content of
// a CDATA section, kept exactly and written back as one; or, in a UTF-8
// document with a DOCTYPE, a reference to an entity that is not read (an
// external or unparsed one, read laxly) or not declared (read laxly, or where
// an external subset may declare it): its value is the entity's name and it is
// written back as "&name;".
class VELK_API VelkText : public VelkNode {
public:
    // A text node holding initValue as it stands (it is escaped on output).
    explicit VelkText(const char* initValue) : VelkNode(TEXT), cdata(false), reference(false) {
        if (*initValue) SetValue(initValue);  // a new value is empty already
    }
    explicit VelkText(VelkStringRef initValue) : VelkNode(TEXT), cdata(false), reference(false) {
        if (initValue.size()) SetValue(initValue);
    }
    ~VelkText() override {}

    // Whether the text is empty or white space only.
    bool Blank() const;
    // Whether the text is written as a CDATA section instead of escaped.
    bool CDATA() const { return cdata; }
    void SetCDATA(bool on) { cdata = on; }
    // Whether the node stands for an entity reference, named by its value.
    bool EntityReference() const { return reference; }
    void SetEntityReference(bool on) { reference = on; }

    VelkNode* Clone() const override;
    // Writes the text escaped, without indentation or line break.
    using VelkNode::Print;
    void Print(FILE* file, int depth) const override;
    void StreamOut(std::ostream* out) const override;
    // Reads up to the next '<', decoding references and condensing white space
    // while condenseWhiteSpace is set; or a whole "<![CDATA[...]]>" section.
    const char* Parse(const char* p, VelkParsingData* data) override;
    void StreamIn(std::istream* in, std::string* tag) override;

private:
    bool cdata;
    bool reference;

    friend struct VelkAccess;
};

// The XML declaration with its version, encoding and standalone strings.
class VELK_API VelkDeclaration : public VelkNode {
public:
    // A declaration with the given strings (empty by default); they are stored,
    // written back, and never acted on.
    VelkDeclaration() : VelkNode(DECLARATION) {}
    VelkDeclaration(const char* version, const char* encoding, const char* standalone);
    VelkDeclaration(VelkStringRef version, VelkStringRef encoding, VelkStringRef standalone);
    ~VelkDeclaration() override {}

    // The three strings; empty when absent.
    const char* Version() const { return version.c_str(); }
    const char* Encoding() const { return encoding.c_str(); }
    const char* Standalone() const { return standalone.c_str(); }

    VelkNode* Clone() const override;
    // Writes <?xml version="..." encoding="..." standalone="..." ?>, leaving out empty ones.
    using VelkNode::Print;
    void Print(FILE* file, int depth) const override;
    void StreamOut(std::ostream* out) const override;
    // Reads "<?xml", then version, encoding and standalone in any order, up to '>'.
    const char* Parse(const char* p, VelkParsingData* data) override;
    void StreamIn(std::istream* in, std::string* tag) override;

private:
    std::string version;
    std::string encoding;
    std::string standalone;

    friend struct VelkAccess;
};

// Markup that is none of the other kinds, kept verbatim between '<' and '>'.
class VELK_API VelkUnknown : public VelkNode {
public:
    // An empty unknown node; its value is the text between '<' and '>'.
    VelkUnknown() : VelkNode(UNKNOWN) {}
    ~VelkUnknown() override {}

    VelkNode* Clone() const override;
    // Writes '<', the value as stored, '>'.
    using VelkNode::Print;
    void Print(FILE* file, int depth) const override;
    void StreamOut(std::ostream* out) const override;
    // Reads from '<' up to the first '>', verbatim.
    const char* Parse(const char* p, VelkParsingData* data) override;
    void StreamIn(std::istream* in, std::string* tag) override;
};

// The root of a tree: owns the top-level nodes, names the file it is loaded from
// and saved to, and records the first error of a parse.
class VELK_API VelkDocument : public VelkNode {
public:
    // An empty document, without a name or with the file name documentName.
    VelkDocument();
    explicit VelkDocument(const char* documentName);
    explicit VelkDocument(VelkStringRef documentName);
    ~VelkDocument() override;
    // A move takes the other document's nodes, name, settings and error state,
    // leaving it empty; a document that is a child of another cannot be moved.
    VelkDocument(VelkDocument&& other) noexcept;
    VelkDocument& operator=(VelkDocument&& other) noexcept;

    // Replace the tree with the parsed contents of a file; true when no error.
    // The whole file is read: a NUL byte in it is VELK_ERROR_CHARACTER.
    bool LoadFile();
    bool LoadFile(const char* fileName);
    bool LoadFile(VelkStringRef fileName);
    // Write the pretty form to a file; true when it could be opened. A tree
    // that CheckWritable finds fault with is not written: false, with that
    // error recorded (at the faulty node's position when it was parsed).
    bool SaveFile() const;
    bool SaveFile(const char* fileName) const;
    bool SaveFile(VelkStringRef fileName) const;
    // Whether the tree can be written as text that the document's own reading
    // reads back the same: VELK_NO_ERROR, or the code of the first fault found
    // (in document order), the node or attribute holding it in *where when
    // where is not null. A strict document must hold XML: well-formed names,
    // comments without "--" and not ending in '-', processing instructions
    // with a Name other than "xml" as target and no "?>" inside, declaration
    // values of their syntax, valid UTF-8 of characters XML allows, one
    // element at the top and no text there but white space. A lenient
    // document: no comment holding "-->" (the pretty form writes comments as
    // they are); in the UTF-8 model no control character but tab, line feed
    // and carriage return, which XML cannot hold in any form.
    int CheckWritable(const VelkBase** where = nullptr) const;

    // Whether an error is recorded.
    bool Error() const { return hasError; }
    // The code and the fixed message of the recorded error; 0 and "" when none.
    int ErrorCode() const { return errorCode; }
    const char* ErrorMessage() const { return errorMessage.c_str(); }
    // Where the error was found (counted from 0); (-1, -1) when it has no position.
    const VelkCursor& ErrorCursor() const { return errorCursor; }
    // Forgets the recorded error: code 0, empty message, cursor (0, 0).
    void ClearError();
    // Records error err at position (when both position and data are given),
    // unless an error is already recorded.
    void SetError(int err, const char* position, VelkParsingData* data);

    // Columns per tab stop when counting columns; 4 by default.
    int TabSize() const { return tabSize; }
    void SetTabSize(int size) { tabSize = size; }

    // The character model: off (the default), a byte is a character, references
    // decode to single bytes and output writes bytes outside printable ASCII as
    // &#xHH;. On, the document is UTF-8 as XML readers see it: every character
    // reference decodes to its UTF-8 bytes, bytes 0x80 to 0xFF are name
    // characters and are written as they are. Nodes of the document parse and
    // print in its model; set it before parsing. Turning it off turns strict
    // reading off too.
    bool Utf8() const { return utf8; }
    void SetUtf8(bool on) {
        utf8 = on;
        strict = strict && on;
    }

    // Strict reading: off (the default), the library's own lenient grammar.
    // On, it implies the UTF-8 model (turning it on turns that on): Parse,
    // LoadFile and operator>> read the document as XML 1.0 (Fifth Edition),
    // every byte of the input (operator>> reads the stream to its end), and
    // record the first violation of a well-formedness rule as an error with
    // its position. Only UTF-8 (and ASCII) input is read. With condensing off
    // the tree holds every character of character data, white space between
    // elements included, line ends read as '\n' everywhere. Set it before
    // parsing.
    bool Strict() const { return strict; }
    void SetStrict(bool on) {
        strict = on;
        utf8 = utf8 || on;
    }

    // White-space condensing of this document's text (see condenseWhiteSpace).
    // Until SetCondenseWhiteSpace chooses, the document follows the global
    // switch as it stands when a parse starts; once chosen, its parses never
    // read the global, which other threads may then change. A parse reads the
    // choice once, when it starts.
    bool CondenseWhiteSpace() const { return condense < 0 ? condenseWhiteSpace : condense != 0; }
    void SetCondenseWhiteSpace(bool on) { condense = on ? 1 : 0; }

    // A copy of the name, the top-level nodes and whether there is an error.
    VelkNode* Clone() const override;
    // Writes every top-level node, each followed by a line feed.
    using VelkNode::Print;
    void Print(FILE* file, int depth) const override;
    // Writes the top-level nodes up to and including the first element.
    void StreamOut(std::ostream* out) const override;
    // Clears the error and appends the top-level nodes parsed from p. Check Error():
    // the result only tells where the parse stopped (null at the end or on failure).
    // Top-level text that is not markup ends the parse without an error (in
    // strict reading, with one).
    const char* Parse(const char* p, VelkParsingData* prevData) override;
    const char* Parse(const char* p) { return Parse(p, static_cast<VelkParsingData*>(nullptr)); }
    // The same for text that needs no terminating NUL: length bytes at p, a
    // string (or a view, below). A NUL byte among them is an error
    // (VELK_ERROR_CHARACTER) at its position, unless the parse found one before
    // it. The result points into the given text.
    const char* Parse(const char* p, std::size_t length, VelkParsingData* prevData) {
        return ParseBytes(p, length, false, prevData);
    }
    const char* Parse(const std::string& text, VelkParsingData* prevData = nullptr) {
        return ParseBytes(text.c_str(), text.size(), true, prevData);
    }
    // Reads declarations, comments and the like up to the end of the first element.
    void StreamIn(std::istream* in, std::string* tag) override;

private:
    // The slab that this document's parses are filling (see velk.cpp).
    struct Arena {
        void* slab;
        char* next;
        char* end;
        std::size_t placed;
        std::size_t nextSize;
    };

    // terminated: a NUL follows the length bytes at p.
    const char* ParseBytes(const char* p, std::size_t length, bool terminated,
                           VelkParsingData* prevData);

    // Mutable: SaveFile, a const call, records why it refuses to write.
    mutable bool hasError;
    mutable int errorCode;
    mutable std::string errorMessage;
    int tabSize;
    bool utf8;
    bool strict;
    signed char condense;  // -1 while the document follows condenseWhiteSpace
    mutable VelkCursor errorCursor;
    Arena arena;

    // Takes other's contents; this document holds none.
    void TakeFrom(VelkDocument& other);

    friend struct VelkAccess;

#if VELK_HAS_STRING_VIEW
public:
    // Parses the text of a view, as Parse of a pointer and a length does.
    const char* Parse(std::string_view text, VelkParsingData* prevData = nullptr) {
        return ParseBytes(text.data(), text.size(), false, prevData);
    }
#endif
};

// A null-safe navigation step: every step from an empty handle stays empty.
class VELK_API VelkHandle {
public:
    // Wraps target, which may be null; the handle owns nothing.
    VelkHandle(VelkNode* target) : node(target) {}

    // The node reached, or null.
    VelkNode* Node() const { return node; }
    // The node as an element or a text, or null.
    VelkElement* ToElement() const;
    VelkText* ToText() const;

    // The first child, the first of that value, the first element, the first element of that name.
    VelkHandle FirstChild() const;
    VelkHandle FirstChild(const char* name) const;
    VelkHandle FirstChild(VelkStringRef name) const;
    VelkHandle FirstChildElement() const;
    VelkHandle FirstChildElement(const char* name) const;
    VelkHandle FirstChildElement(VelkStringRef name) const;
    // The child at index (counted from 0; 0 or below gives the first).
    VelkHandle Child(int index) const;
    VelkHandle Child(const char* name, int index) const;
    VelkHandle Child(VelkStringRef name, int index) const;
    VelkHandle ChildElement(int index) const;
    VelkHandle ChildElement(const char* name, int index) const;
    VelkHandle ChildElement(VelkStringRef name, int index) const;

private:
    VelkNode* node;
};

// The row and column tracker of one parse: each Stamp counts on from the last.
class VELK_API VelkParsingData {
public:
    // A tracker standing at row and col at the text position start.
    VelkParsingData(const char* start, int tabSize, int row, int col);

    // Advances the cursor to the position now (never backwards, never past the end).
    void Stamp(const char* now);
    // The row and column of the furthest position stamped.
    const VelkCursor& Cursor() { return cursor; }

private:
    VelkCursor cursor;
    const char* stamp;
    int tabSize;
    // The document the running parse reports to, so that no node has to climb
    // its parents to find it; null outside a document parse.
    VelkDocument* document;

    friend struct VelkAccess;
};

// A forward iterator over the children of a node that yields references:
// every child when Item is a VelkNode, else the elements (of one name).
template <class Item>
class VelkChildIterator {
public:
    typedef std::forward_iterator_tag iterator_category;
    typedef typename std::remove_const<Item>::type value_type;
    typedef std::ptrdiff_t difference_type;
    typedef Item* pointer;
    typedef Item& reference;

    VelkChildIterator() : node(nullptr), name(nullptr), length(0) {}
    // The first match at or after first; name null matches every element.
    VelkChildIterator(const VelkNode* first, const char* name, std::size_t length)
        : node(Match(first, name, length)), name(name), length(length) {}

    reference operator*() const { return *operator->(); }
    pointer operator->() const { return static_cast<pointer>(const_cast<VelkNode*>(node)); }
    VelkChildIterator& operator++() {
        node = Match(node->next, name, length);
        return *this;
    }
    VelkChildIterator operator++(int) {
        VelkChildIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const VelkChildIterator& other) const { return node == other.node; }
    bool operator!=(const VelkChildIterator& other) const { return node != other.node; }

private:
    static const bool kEveryNode = std::is_same<value_type, VelkNode>::value;

    static const VelkNode* Match(const VelkNode* n, const char* name, std::size_t length) {
        if (kEveryNode) return n;
        while (n && (n->type != VelkNode::ELEMENT || (name && !n->ValueEquals(name, length))))
            n = n->next;
        return n;
    }

    const VelkNode* node;
    const char* name;
    std::size_t length;
};

// A forward iterator over the attributes of an element, yielding references.
template <class Item>
class VelkAttributeIterator {
public:
    typedef std::forward_iterator_tag iterator_category;
    typedef typename std::remove_const<Item>::type value_type;
    typedef std::ptrdiff_t difference_type;
    typedef Item* pointer;
    typedef Item& reference;

    explicit VelkAttributeIterator(Item* attribute = nullptr) : attribute(attribute) {}

    reference operator*() const { return *attribute; }
    pointer operator->() const { return attribute; }
    VelkAttributeIterator& operator++() {
        attribute = attribute->next;
        return *this;
    }
    VelkAttributeIterator operator++(int) {
        VelkAttributeIterator before = *this;
        attribute = attribute->next;
        return before;
    }
    bool operator==(const VelkAttributeIterator& other) const {
        return attribute == other.attribute;
    }
    bool operator!=(const VelkAttributeIterator& other) const {
        return attribute != other.attribute;
    }

private:
    Item* attribute;
};

inline VelkRange<VelkChildIterator<VelkNode>> VelkNode::Children() {
    typedef VelkChildIterator<VelkNode> It;
    return VelkRange<It>(It(firstChild, nullptr, 0), It());
}

inline VelkRange<VelkChildIterator<const VelkNode>> VelkNode::Children() const {
    typedef VelkChildIterator<const VelkNode> It;
    return VelkRange<It>(It(firstChild, nullptr, 0), It());
}

inline VelkRange<VelkChildIterator<VelkElement>> VelkNode::ChildElements() {
    typedef VelkChildIterator<VelkElement> It;
    return VelkRange<It>(It(firstChild, nullptr, 0), It());
}

inline VelkRange<VelkChildIterator<const VelkElement>> VelkNode::ChildElements() const {
    typedef VelkChildIterator<const VelkElement> It;
    return VelkRange<It>(It(firstChild, nullptr, 0), It());
}

inline VelkRange<VelkChildIterator<VelkElement>> VelkNode::ChildElements(const char* name) {
    return ChildElements(VelkStringRef(name));
}

inline VelkRange<VelkChildIterator<const VelkElement>> VelkNode::ChildElements(
    const char* name) const {
    return ChildElements(VelkStringRef(name));
}

inline VelkRange<VelkChildIterator<VelkElement>> VelkNode::ChildElements(VelkStringRef name) {
    typedef VelkChildIterator<VelkElement> It;
    return VelkRange<It>(It(firstChild, name.data(), name.size()), It());
}

inline VelkRange<VelkChildIterator<const VelkElement>> VelkNode::ChildElements(
    VelkStringRef name) const {
    typedef VelkChildIterator<const VelkElement> It;
    return VelkRange<It>(It(firstChild, name.data(), name.size()), It());
}

inline VelkRange<VelkAttributeIterator<VelkAttribute>> VelkElement::Attributes() {
    typedef VelkAttributeIterator<VelkAttribute> It;
    return VelkRange<It>(It(attributeSet.First()), It());
}

inline VelkRange<VelkAttributeIterator<const VelkAttribute>> VelkElement::Attributes() const {
    typedef VelkAttributeIterator<const VelkAttribute> It;
    return VelkRange<It>(It(attributeSet.First()), It());
}

// Reads one node (a document: up to the end of its first element) and parses it.
VELK_API std::istream& operator>>(std::istream& in, VelkNode& base);
// Writes the compact form.
VELK_API std::ostream& operator<<(std::ostream& out, const VelkNode& base);
// Appends the compact form.
VELK_API std::string& operator<<(std::string& out, const VelkNode& base);

}  // namespace TAVARO

#endif  // VELK_BASE_VELK_H
