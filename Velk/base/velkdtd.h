// Private to the library: the internal subset of a DOCTYPE in the UTF-8
// model. The reader of the markup declarations, the tables of the entities and
// attribute lists they declare, and the helpers that expand entity references
// and add declared attributes while the parse goes on. Not installed.
#ifndef VELK_BASE_VELKDTD_H
#define VELK_BASE_VELKDTD_H

#include "velkintern.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Keeps the rarely taken paths of DTD documents out of the hot loops they
// are called from.
#if defined(__GNUC__)
#define VELK_NOINLINE __attribute__((noinline))
#else
#define VELK_NOINLINE
#endif

namespace TAVARO {

// One declared entity, general or parameter.
struct DtdEntity {
    enum class Use : unsigned char { kUnknown, kText, kMarkup };  // what its expansion holds

    std::string text;         // the replacement text of an internal entity
    bool external = false;    // SYSTEM or PUBLIC: never read
    bool unparsed = false;    // external with NDATA
    bool open = false;        // being expanded now: a reference to it is recursion
    Use use = Use::kUnknown;  // whether its expansion holds markup, once learnt
};

// One attribute declared for an element; the first declaration of a name wins.
struct DtdAttribute {
    std::string name;
    std::string value;        // the default, normalised
    bool tokens = false;      // of a type other than CDATA: its values are normalised
    bool hasDefault = false;  // a default or #FIXED value
};

// The DTD of one document parse: read from the DOCTYPE, then asked at each
// named reference and each start tag. It lives on the stack of the document
// parse and reports errors to the parse's document.
class Dtd {
public:
    Dtd(VelkDocument* doc, VelkParsingData* data, const char* input, std::size_t inputSize);

    // Reads the DOCTYPE markup [start, end) that the document parse has just
    // kept as a node; standalone tells whether the XML declaration said
    // standalone='yes'. Returns end, or null when strict reading met an error.
    const char* ReadDoctype(const char* start, const char* end, bool standalone);

    // What a named reference in content stands for.
    enum class Action {
        kDecode,     // not for the DTD: a character reference or a predefined entity
        kText,       // characters only: appended where it stands
        kMarkup,     // an entity whose text holds markup: parsed into nodes
        kReference,  // kept as a reference node (not read, or not declared)
        kFailed,     // an error was recorded
    };
    struct Reference {
        Action action;
        DtdEntity* entity;  // for kText and kMarkup
        std::string_view name;
        const char* after;  // after the ';'
    };

    // The reference at p ('&', in text that ends at end) in content; for
    // kText, its characters are appended to out.
    Reference InContent(const char* p, const char* end, std::string* out);
    // Expands the reference at p ('&') in an attribute value, appending the
    // normalised characters to value; returns the position after it, p itself
    // when the DTD has nothing to do with it, or null after an error.
    const char* InAttribute(const char* p, const char* end, std::string* value);

    // Bracket the parse of a markup entity's text as content at the reference
    // at p: Enter records an error (and is false) for recursion and the limits.
    bool Enter(DtdEntity* entity, const char* p);
    void Leave(DtdEntity* entity);
    // Records err at p in the document text, or at the outermost reference
    // being expanded when p is inside a replacement text.
    void Fail(int err, const char* p);
    // Gives an error recorded without a position (by a parse of a replacement
    // text) the position of the outermost reference being expanded.
    void PlaceError();

    // The attributes declared for an element, or null.
    const std::vector<DtdAttribute>* AttributesOf(std::string_view element) const;
    // Adds to element the attributes that are declared for it with a default
    // and that its start tag leaves out, after the given ones, and normalises
    // the given values of declared types other than CDATA. False when memory
    // runs out (nothing is recorded).
    bool AddDeclaredAttributes(VelkElement* element) const;
    // Appends the n characters at p to the plain text (no CDATA section, no
    // kept reference) that parent's children end with, if they do, as text on
    // either side of an entity's expansion reads back as one text: with one
    // space between when condensing. *joined tells whether there was such a
    // text. False when memory runs out (nothing is recorded).
    bool JoinText(VelkElement* parent, const char* p, std::size_t n, bool condense,
                  bool* joined) const;

private:
    friend class SubsetReader;

    enum class Mode { kContent, kAttribute };
    enum class Expansion { kDone, kMarkup, kFailed };

    // Appends the characters of an entity's text, its references expanded.
    Expansion AppendText(DtdEntity* entity, Mode mode, std::string* out, const char* at);
    Expansion AppendReplacement(const std::string& text, Mode mode, std::string* out,
                                const char* at);
    // Counts n more expanded bytes against the budget; false (error recorded) when over.
    bool Charge(std::size_t n, const char* at);
    // Whether a reference to an undeclared general entity breaks well-formedness.
    bool UndeclaredIsError() const;
    DtdEntity* General(std::string_view name);

    VelkDocument* doc_;
    VelkParsingData* data_;
    const char* input_;
    const char* inputEnd_;
    bool strict_;
    bool read_ = false;                 // a DOCTYPE has been read
    bool standalone_ = false;           // standalone='yes'
    bool externalSubset_ = false;       // the DOCTYPE names an external subset
    bool parameterRefs_ = false;        // the subset holds a parameter-entity reference
    bool skippedDeclarations_ = false;  // a parameter entity was not read: later ones are skipped
    int depth_ = 0;                     // entities being expanded
    const char* anchor_ = nullptr;      // the outermost reference being expanded
    std::size_t expanded_ = 0;          // bytes of replacement text included so far
    std::size_t budget_;
    std::unordered_map<std::string, DtdEntity> general_;
    std::unordered_map<std::string, DtdEntity> parameter_;
    std::unordered_map<std::string, std::vector<DtdAttribute>> attributes_;
};

// Trims and collapses the spaces of a value of a declared type other than CDATA.
void NormalizeTokens(std::string* value);

}  // namespace TAVARO

#endif  // VELK_BASE_VELKDTD_H
