// The internal subset of a DOCTYPE: its reader, one function per production of
// the markup-declaration grammar, the entity and attribute-list tables it
// fills, and the expansion of entity references in content and attribute
// values. External entities and the external subset are never read.
#include "velkdtd.h"
#include "velkmemory.h"

#include <cstring>
#include <functional>

namespace {
constexpr const char kVelkUnit[] = "Velk/base/velkdtd";
}  // namespace

namespace TAVARO {

namespace {

// ---------------------------------------------------------------------------
// Characters

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The end of the Name at p (before end), or null when none starts there.
const char* NameEnd(const char* p, const char* end) {
    unsigned long c;
    std::size_t n = DecodeUtf8(p, end, &c);
    if (!n || !IsNameStartChar(c)) return nullptr;
    p += n;
    while ((n = DecodeUtf8(p, end, &c)) && IsNameChar(c)) p += n;
    return p;
}

// The end of the Nmtoken at p, or null.
const char* NmtokenEnd(const char* p, const char* end) {
    const char* start = p;
    unsigned long c;
    std::size_t n;
    while ((n = DecodeUtf8(p, end, &c)) && IsNameChar(c)) p += n;
    return p == start ? nullptr : p;
}

// The character reference "&#" digits ";" or "&#x" hex digits ";" at p (before
// end), of a Char: its code in *c and the position after it; null otherwise.
const char* CharReferenceEnd(const char* p, const char* end, unsigned long* c) {
    if (end - p < 4 || p[0] != '&' || p[1] != '#') return nullptr;
    const bool hex = p[2] == 'x';
    const char* q = p + (hex ? 3 : 2);
    const char* digits = q;
    unsigned long code = 0;
    for (; q < end; ++q) {
        int d;
        if (*q >= '0' && *q <= '9') {
            d = *q - '0';
        } else if (hex && ((*q >= 'a' && *q <= 'f') || (*q >= 'A' && *q <= 'F'))) {
            d = ToLower(*q) - 'a' + 10;
        } else {
            break;
        }
        code = code * (hex ? 16 : 10) + static_cast<unsigned long>(d);
        if (code > 0x10FFFF) code = 0x110000;
    }
    if (q == digits || q >= end || *q != ';' || !IsXmlChar(code)) return nullptr;
    *c = code;
    return q + 1;
}

// The character a predefined entity stands for, or 0.
char Predefined(std::string_view name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "apos") return '\'';
    if (name == "quot") return '"';
    return 0;
}

// The named reference "&" Name ";" at p: its name and the position after it;
// null when none stands there.
const char* NamedReferenceEnd(const char* p, const char* end, std::string_view* name) {
    if (p >= end || *p != '&') return nullptr;
    const char* nameEnd = NameEnd(p + 1, end);
    if (!nameEnd || nameEnd >= end || *nameEnd != ';') return nullptr;
    *name = std::string_view(p + 1, static_cast<std::size_t>(nameEnd - p - 1));
    return nameEnd + 1;
}

// Nested parentheses of a content model deeper than this are refused: no
// honest declaration comes near, and the reader recurses once per level.
constexpr int kGroupDepthMax = 256;

}  // namespace

// ---------------------------------------------------------------------------
// The reader of a DOCTYPE and of the replacement text of a parameter entity
// referenced between declarations. Each production is a function that reads
// it at p_ and returns whether it was there; the first fault is kept.

class SubsetReader {
public:
    SubsetReader(Dtd& dtd, const char* p, const char* end) : dtd_(dtd), p_(p), end_(end) {}

    int Error() const { return error_; }
    const char* ErrorAt() const { return errorAt_; }

    // doctypedecl: '<!DOCTYPE' S Name (S ExternalID)? S? ('[' intSubset ']' S?)? '>'
    bool ReadDoctypeDecl() {
        p_ += 9;
        std::string root;
        if (!RequireSpace() || !ReadName(&root)) return false;
        const bool space = SkipSpace();
        if (At("SYSTEM") || At("PUBLIC")) {
            if (!space) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            if (!ReadExternalID(false)) return false;
            dtd_.externalSubset_ = true;
            SkipSpace();
        }
        if (Peek() == '[') {
            ++p_;
            if (!ReadIntSubset(true)) return false;
            ++p_;
            SkipSpace();
        }
        if (!Expect('>')) return false;
        return p_ == end_ || Fail(VELK_ERROR_DTD_SYNTAX, p_);
    }

    // intSubset: (markupdecl | DeclSep)*, up to the ']' that ends it (top) or
    // to the end of a parameter entity's text.
    bool ReadIntSubset(bool top) {
        for (;;) {
            SkipSpace();
            if (p_ >= end_) return !top || Fail(VELK_ERROR_DTD_SYNTAX, p_);
            if (top && *p_ == ']') return true;
            if (*p_ == '%') {
                if (!ReadDeclSepReference()) return false;
            } else if (!ReadMarkupDecl()) {
                return false;
            }
        }
    }

private:
    // markupdecl: elementdecl | AttlistDecl | EntityDecl | NotationDecl | PI | Comment
    bool ReadMarkupDecl() {
        if (At("<!ELEMENT")) return ReadElementDecl();
        if (At("<!ATTLIST")) return ReadAttlistDecl();
        if (At("<!ENTITY")) return ReadEntityDecl();
        if (At("<!NOTATION")) return ReadNotationDecl();
        if (At("<!--")) return ReadComment();
        if (At("<?")) return ReadPI();
        return Fail(VELK_ERROR_DTD_SYNTAX, p_);
    }

    // elementdecl: '<!ELEMENT' S Name S contentspec S? '>'
    bool ReadElementDecl() {
        p_ += 9;
        std::string name;
        if (!RequireSpace() || !ReadName(&name) || !RequireSpace() || !ReadContentSpec())
            return false;
        SkipSpace();
        return Expect('>');
    }

    // contentspec: 'EMPTY' | 'ANY' | Mixed | children
    bool ReadContentSpec() {
        if (Take("EMPTY") || Take("ANY")) return true;
        if (!Expect('(')) return false;
        SkipSpace();
        if (At("#PCDATA")) return ReadMixed();
        return ReadGroup(1) && ReadOccurrence();
    }

    // Mixed: '(' S? '#PCDATA' (S? '|' S? Name)* S? ')*' | '(' S? '#PCDATA' S? ')'
    bool ReadMixed() {
        p_ += 7;
        bool names = false;
        for (;;) {
            SkipSpace();
            if (Peek() != '|') break;
            ++p_;
            SkipSpace();
            std::string name;
            if (!ReadName(&name)) return false;
            names = true;
        }
        if (!Expect(')')) return false;
        if (Peek() == '*') {
            ++p_;
            return true;
        }
        return !names || Fail(VELK_ERROR_DTD_SYNTAX, p_);
    }

    // choice: '(' S? cp (S? '|' S? cp)+ S? ')';  seq: '(' S? cp (S? ',' S? cp)* S? ')'
    // The '(' and the space after it have been read.
    bool ReadGroup(int depth) {
        if (depth > kGroupDepthMax) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        if (!ReadCp(depth)) return false;
        char separator = 0;
        for (;;) {
            SkipSpace();
            const char c = Peek();
            if (c != '|' && c != ',') break;
            if (separator && c != separator) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            separator = c;
            ++p_;
            SkipSpace();
            if (!ReadCp(depth)) return false;
        }
        return Expect(')');
    }

    // cp: (Name | choice | seq) ('?' | '*' | '+')?
    bool ReadCp(int depth) {
        if (Peek() == '(') {
            ++p_;
            SkipSpace();
            if (!ReadGroup(depth + 1)) return false;
        } else {
            std::string name;
            if (!ReadName(&name)) return false;
        }
        return ReadOccurrence();
    }

    bool ReadOccurrence() {
        const char c = Peek();
        if (c == '?' || c == '*' || c == '+') ++p_;
        return true;
    }

    // AttlistDecl: '<!ATTLIST' S Name AttDef* S? '>'
    bool ReadAttlistDecl() {
        p_ += 9;
        std::string element;
        if (!RequireSpace() || !ReadName(&element)) return false;
        for (;;) {
            const bool space = SkipSpace();
            if (Peek() == '>') {
                ++p_;
                return true;
            }
            if (!space) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            if (!ReadAttDef(element)) return false;
        }
    }

    // AttDef: S Name S AttType S DefaultDecl (the first S has been read)
    bool ReadAttDef(const std::string& element) {
        DtdAttribute def;
        if (!ReadName(&def.name) || !RequireSpace() || !ReadAttType(&def.tokens) ||
            !RequireSpace() || !ReadDefaultDecl(&def))
            return false;
        if (Processing()) {
            std::vector<DtdAttribute>& list = dtd_.attributes_[element];
            for (const DtdAttribute& d : list)
                if (d.name == def.name) return true;
            list.push_back(std::move(def));
        }
        return true;
    }

    // AttType: StringType | TokenizedType | EnumeratedType
    bool ReadAttType(bool* tokens) {
        *tokens = true;
        if (Take("CDATA")) {
            *tokens = false;
            return true;
        }
        static const char* const kTokenized[] = {"IDREFS", "IDREF",    "ID",     "ENTITIES",
                                                 "ENTITY", "NMTOKENS", "NMTOKEN"};
        for (const char* type : kTokenized)
            if (Take(type)) return true;
        if (Take("NOTATION")) return RequireSpace() && Expect('(') && ReadTokenList(true);
        if (Peek() == '(') {
            ++p_;
            return ReadTokenList(false);
        }
        return Fail(VELK_ERROR_DTD_SYNTAX, p_);
    }

    // NotationType and Enumeration after their '(':
    // S? Name|Nmtoken (S? '|' S? Name|Nmtoken)* S? ')'
    bool ReadTokenList(bool names) {
        for (;;) {
            SkipSpace();
            const char* end = names ? NameEnd(p_, end_) : NmtokenEnd(p_, end_);
            if (!end) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            p_ = end;
            SkipSpace();
            if (Peek() != '|') return Expect(')');
            ++p_;
        }
    }

    // DefaultDecl: '#REQUIRED' | '#IMPLIED' | (('#FIXED' S)? AttValue)
    bool ReadDefaultDecl(DtdAttribute* def) {
        if (Take("#REQUIRED") || Take("#IMPLIED")) return true;
        if (Take("#FIXED") && !RequireSpace()) return false;
        def->hasDefault = true;
        if (!ReadAttValue(&def->value)) return false;
        if (def->tokens) NormalizeTokens(&def->value);
        return true;
    }

    // AttValue: '"' ([^<&"] | Reference)* '"' | "'" ([^<&'] | Reference)* "'",
    // normalised as an attribute value is.
    bool ReadAttValue(std::string* value) {
        const char quote = Peek();
        if (quote != '"' && quote != '\'') return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        ++p_;
        for (;;) {
            if (p_ >= end_) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            const char c = *p_;
            if (c == quote) {
                ++p_;
                return true;
            }
            if (c == '<') {
                if (dtd_.strict_) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
                *value += *p_++;
            } else if (c == '&') {
                if (!ReadReferenceInAttValue(value)) return false;
            } else if (IsXmlSpace(c)) {
                *value += ' ';
                p_ += c == '\r' && p_ + 1 < end_ && p_[1] == '\n' ? 2 : 1;
            } else if (!CopyChar(value)) {
                return false;
            }
        }
    }

    bool ReadReferenceInAttValue(std::string* value) {
        unsigned long code;
        if (const char* after = CharReferenceEnd(p_, end_, &code)) {
            AppendUtf8(code, value);
            p_ = after;
            return true;
        }
        std::string_view name;
        const char* after = NamedReferenceEnd(p_, end_, &name);
        if (!after) {
            if (dtd_.strict_) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            *value += *p_++;
            return true;
        }
        if (const char c = Predefined(name)) {
            *value += c;
            p_ = after;
            return true;
        }
        const char* next = dtd_.InAttribute(p_, end_, value);
        if (!next) return Fail(0, p_);  // recorded by the DTD
        if (next == p_) value->append(p_, static_cast<std::size_t>(after - p_));
        p_ = after;
        return true;
    }

    // EntityDecl: GEDecl | PEDecl
    // GEDecl: '<!ENTITY' S Name S EntityDef S? '>'; PEDecl: '<!ENTITY' S '%' S Name S PEDef S? '>'
    bool ReadEntityDecl() {
        p_ += 8;
        if (!RequireSpace()) return false;
        const bool parameter = Peek() == '%';
        if (parameter) {
            ++p_;
            if (!RequireSpace()) return false;
        }
        std::string name;
        if (!ReadName(&name) || !RequireSpace()) return false;
        DtdEntity entity;
        if (Peek() == '"' || Peek() == '\'') {
            if (!ReadEntityValue(&entity.text)) return false;
        } else {
            if (!ReadExternalID(false)) return false;
            entity.external = true;
            if (!parameter && !ReadNDataDecl(&entity.unparsed)) return false;
        }
        SkipSpace();
        if (!Expect('>')) return false;
        if (Processing() && !(!parameter && Predefined(name))) {
            auto& table = parameter ? dtd_.parameter_ : dtd_.general_;
            table.emplace(std::move(name), std::move(entity));  // the first declaration wins
        }
        return true;
    }

    // NDataDecl: S 'NDATA' S Name
    bool ReadNDataDecl(bool* unparsed) {
        const char* before = p_;
        if (!SkipSpace() || !Take("NDATA")) {
            p_ = before;
            return true;
        }
        std::string notation;
        *unparsed = true;
        return RequireSpace() && ReadName(&notation);
    }

    // EntityValue: '"' ([^%&"] | PEReference | Reference)* '"' | the same with "'".
    // Character references are decoded here; references to general entities
    // are kept, to be expanded where the entity is used.
    bool ReadEntityValue(std::string* text) {
        const char quote = *p_++;
        for (;;) {
            if (p_ >= end_) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            const char c = *p_;
            if (c == quote) {
                ++p_;
                return true;
            }
            if (c == '%') {
                if (!ReadPEReferenceInValue(text)) return false;
            } else if (c == '&') {
                if (!ReadReferenceInValue(text)) return false;
            } else if (c == '\r') {
                *text += '\n';
                p_ += p_ + 1 < end_ && p_[1] == '\n' ? 2 : 1;
            } else if (!CopyChar(text)) {
                return false;
            }
        }
    }

    bool ReadReferenceInValue(std::string* text) {
        unsigned long code;
        if (const char* after = CharReferenceEnd(p_, end_, &code)) {
            AppendUtf8(code, text);
            p_ = after;
            return true;
        }
        std::string_view name;
        if (const char* after = NamedReferenceEnd(p_, end_, &name)) {
            text->append(p_, static_cast<std::size_t>(after - p_));
            p_ = after;
            return true;
        }
        if (dtd_.strict_) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        *text += *p_++;
        return true;
    }

    // A parameter-entity reference inside an entity value: not allowed in the
    // internal subset; read laxly, a declared internal one is included.
    bool ReadPEReferenceInValue(std::string* text) {
        if (dtd_.strict_) return Fail(VELK_ERROR_PE_IN_DECLARATION, p_);
        const char* start = p_;
        const char* nameEnd = NameEnd(p_ + 1, end_);
        if (!nameEnd || nameEnd >= end_ || *nameEnd != ';') {
            *text += *p_++;
            return true;
        }
        p_ = nameEnd + 1;
        auto found = dtd_.parameter_.find(std::string(start + 1, nameEnd));
        if (found == dtd_.parameter_.end() || found->second.external) {
            text->append(start, static_cast<std::size_t>(p_ - start));
            return true;
        }
        if (!dtd_.Charge(found->second.text.size(), start)) return Fail(0, start);
        *text += found->second.text;
        return true;
    }

    // ExternalID: 'SYSTEM' S SystemLiteral | 'PUBLIC' S PubidLiteral S SystemLiteral;
    // a notation may give the public identifier alone.
    bool ReadExternalID(bool notation) {
        if (Take("SYSTEM")) return RequireSpace() && ReadSystemLiteral();
        if (!Take("PUBLIC") || !RequireSpace() || !ReadPubidLiteral())
            return Fail(VELK_ERROR_DTD_SYNTAX, p_);  // the first fault met is kept
        const char* before = p_;
        const bool space = SkipSpace();
        const char c = Peek();
        if (notation && c != '"' && c != '\'') {
            p_ = before;
            return true;
        }
        if (!space) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        return ReadSystemLiteral();
    }

    // SystemLiteral: ('"' [^"]* '"') | ("'" [^']* "'")
    bool ReadSystemLiteral() {
        const char quote = Peek();
        if (quote != '"' && quote != '\'') return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        ++p_;
        std::string ignored;
        while (p_ < end_ && *p_ != quote)
            if (!CopyChar(&ignored)) return false;
        return Expect(quote);
    }

    // PubidLiteral: '"' PubidChar* '"' | "'" (PubidChar - "'")* "'"
    bool ReadPubidLiteral() {
        const char quote = Peek();
        if (quote != '"' && quote != '\'') return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        ++p_;
        while (p_ < end_ && *p_ != quote) {
            const char c = *p_;
            const bool pubid = c == ' ' || c == '\r' || c == '\n' || Is(c, kAlpha | kDigit) ||
                               (c != 0 && std::strchr("-'()+,./:=?;!*#@$_%", c));
            if (!pubid) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            ++p_;
        }
        return Expect(quote);
    }

    // NotationDecl: '<!NOTATION' S Name S (ExternalID | PublicID) S? '>'
    bool ReadNotationDecl() {
        p_ += 10;
        std::string name;
        if (!RequireSpace() || !ReadName(&name) || !RequireSpace() || !ReadExternalID(true))
            return false;
        SkipSpace();
        return Expect('>');
    }

    // Comment: '<!--' ((Char - '-') | ('-' (Char - '-')))* '-->'
    bool ReadComment() {
        p_ += 4;
        std::string ignored;
        for (;;) {
            if (p_ >= end_) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            if (*p_ == '-' && p_ + 1 < end_ && p_[1] == '-') {
                if (p_ + 2 < end_ && p_[2] == '>') {
                    p_ += 3;
                    return true;
                }
                return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            }
            if (!CopyChar(&ignored)) return false;
        }
    }

    // PI: '<?' PITarget (S (Char* - (Char* '?>' Char*)))? '?>', the target not 'xml' in any case
    bool ReadPI() {
        p_ += 2;
        const char* target = p_;
        std::string name;
        if (!ReadName(&name)) return false;
        if (name.size() == 3 && ToLower(name[0]) == 'x' && ToLower(name[1]) == 'm' &&
            ToLower(name[2]) == 'l')
            return Fail(VELK_ERROR_DTD_SYNTAX, target);
        if (Take("?>")) return true;
        if (!RequireSpace()) return false;
        std::string ignored;
        while (!Take("?>")) {
            if (p_ >= end_) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
            if (!CopyChar(&ignored)) return false;
        }
        return true;
    }

    // PEReference between declarations: '%' Name ';'. An internal entity's text
    // is read as declarations; one that is not read (external or undeclared)
    // stops the processing of later entity and attribute-list declarations.
    bool ReadDeclSepReference() {
        const char* start = p_++;
        std::string name;
        if (!ReadName(&name) || !Expect(';')) return false;
        dtd_.parameterRefs_ = true;
        auto found = dtd_.parameter_.find(name);
        if (found == dtd_.parameter_.end()) {
            if (dtd_.strict_ && dtd_.standalone_) return Fail(VELK_ERROR_ENTITY_UNDECLARED, start);
            dtd_.skippedDeclarations_ = !dtd_.standalone_;
            return true;
        }
        DtdEntity& entity = found->second;
        if (entity.external) {
            dtd_.skippedDeclarations_ = !dtd_.standalone_;
            return true;
        }
        if (!dtd_.Enter(&entity, start)) return Fail(0, start);
        SubsetReader inner(dtd_, entity.text.data(), entity.text.data() + entity.text.size());
        const bool ok = inner.ReadIntSubset(false);
        dtd_.Leave(&entity);
        return ok || Fail(inner.error_, start);
    }

    // Whether declarations read now take effect.
    bool Processing() const { return !dtd_.skippedDeclarations_; }

    // Copies one character, which strict reading requires to be a Char in
    // well-formed UTF-8.
    bool CopyChar(std::string* out) {
        unsigned long c;
        const std::size_t n = DecodeUtf8(p_, end_, &c);
        if (!n || !IsXmlChar(c)) {
            if (dtd_.strict_) return Fail(VELK_ERROR_CHARACTER, p_);
            *out += *p_++;
            return true;
        }
        out->append(p_, n);
        p_ += n;
        return true;
    }

    bool ReadName(std::string* name) {
        const char* end = NameEnd(p_, end_);
        if (!end) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        name->assign(p_, static_cast<std::size_t>(end - p_));
        p_ = end;
        return true;
    }

    // S: (#x20 | #x9 | #xD | #xA)+; whether there was any.
    bool SkipSpace() {
        const char* start = p_;
        while (p_ < end_ && IsXmlSpace(*p_)) ++p_;
        return p_ != start;
    }

    bool RequireSpace() { return SkipSpace() || Fail(VELK_ERROR_DTD_SYNTAX, p_); }

    char Peek() const { return p_ < end_ ? *p_ : 0; }

    bool At(const char* word) const {
        const std::size_t n = std::strlen(word);
        return static_cast<std::size_t>(end_ - p_) >= n && std::memcmp(p_, word, n) == 0;
    }

    bool Take(const char* word) {
        if (!At(word)) return false;
        p_ += std::strlen(word);
        return true;
    }

    bool Expect(char c) {
        if (Peek() != c) return Fail(VELK_ERROR_DTD_SYNTAX, p_);
        ++p_;
        return true;
    }

    // Keeps the first fault; code 0 marks one the DTD has recorded itself.
    bool Fail(int code, const char* at) {
        if (!error_ && !errorAt_) {
            error_ = code;
            errorAt_ = at;
        }
        return false;
    }

    Dtd& dtd_;
    const char* p_;
    const char* end_;
    int error_ = 0;
    const char* errorAt_ = nullptr;
};

// ---------------------------------------------------------------------------
// The tables and the expansion of references

Dtd::Dtd(VelkDocument* doc, VelkParsingData* data, const char* input, std::size_t inputSize)
    : doc_(doc),
      data_(data),
      input_(input),
      inputEnd_(input + inputSize),
      strict_(doc && doc->Strict()),
      budget_(static_cast<std::size_t>(VELK_ENTITY_EXPANSION_BASE) +
              static_cast<std::size_t>(VELK_ENTITY_EXPANSION_FACTOR) * inputSize) {}

const char* Dtd::ReadDoctype(const char* start, const char* end, bool standalone) {
    if (read_) return end;  // only the first DOCTYPE is read
    read_ = true;
    standalone_ = standalone;
    SubsetReader reader(*this, start, end);
    if (reader.ReadDoctypeDecl()) return end;
    if (reader.Error() && strict_) Fail(reader.Error(), reader.ErrorAt());
    // Read laxly, the declarations before a fault stay in force; an error of
    // the limits ends the parse in either reading.
    const bool limit = doc_ && doc_->Error();
    return strict_ || limit ? nullptr : end;
}

DtdEntity* Dtd::General(std::string_view name) {
    auto found = general_.find(std::string(name));
    return found == general_.end() ? nullptr : &found->second;
}

bool Dtd::UndeclaredIsError() const {
    return strict_ && (standalone_ || (!externalSubset_ && !parameterRefs_));
}

Dtd::Reference Dtd::InContent(const char* p, const char* end, std::string* out) {
    Reference ref{Action::kDecode, nullptr, {}, p};
    const char* after = NamedReferenceEnd(p, end, &ref.name);
    if (!after || Predefined(ref.name)) return ref;
    ref.after = after;
    ref.entity = General(ref.name);
    DtdEntity* e = ref.entity;
    if (!e || e->external) {
        const int err = !e            ? VELK_ERROR_ENTITY_UNDECLARED
                        : e->unparsed ? VELK_ERROR_ENTITY_UNPARSED
                                      : VELK_ERROR_ENTITY_EXTERNAL;
        const bool error = e ? strict_ : UndeclaredIsError();
        if (error) Fail(err, p);
        ref.action = error ? Action::kFailed : Action::kReference;
        return ref;
    }
    if (e->use == DtdEntity::Use::kMarkup) {
        ref.action = Action::kMarkup;
        return ref;
    }
    const std::size_t mark = out->size();
    switch (AppendText(e, Mode::kContent, out, p)) {
        case Expansion::kDone:
            e->use = DtdEntity::Use::kText;
            ref.action = Action::kText;
            break;
        case Expansion::kMarkup:
            out->resize(mark);
            e->use = DtdEntity::Use::kMarkup;
            ref.action = Action::kMarkup;
            break;
        case Expansion::kFailed:
            ref.action = Action::kFailed;
            break;
    }
    return ref;
}

const char* Dtd::InAttribute(const char* p, const char* end, std::string* value) {
    std::string_view name;
    const char* after = NamedReferenceEnd(p, end, &name);
    if (!after || Predefined(name)) return p;
    DtdEntity* e = General(name);
    if (!e) {
        if (!UndeclaredIsError()) return p;
        Fail(VELK_ERROR_ENTITY_UNDECLARED, p);
        return nullptr;
    }
    // An attribute value cannot hold a reference that is not expanded.
    if (e->external) {
        Fail(e->unparsed ? VELK_ERROR_ENTITY_UNPARSED : VELK_ERROR_ENTITY_EXTERNAL, p);
        return nullptr;
    }
    return AppendText(e, Mode::kAttribute, value, p) == Expansion::kFailed ? nullptr : after;
}

Dtd::Expansion Dtd::AppendText(DtdEntity* entity, Mode mode, std::string* out, const char* at) {
    if (!Enter(entity, at)) return Expansion::kFailed;
    const Expansion result = AppendReplacement(entity->text, mode, out, at);
    Leave(entity);
    return result;
}

// Appends replacement text: character references are decoded, references to
// entities expanded in turn; in an attribute value white space becomes a
// space. Content that holds markup, or a reference kept as a node, needs the
// parse into nodes: kMarkup.
Dtd::Expansion Dtd::AppendReplacement(const std::string& text, Mode mode, std::string* out,
                                      const char* at) {
    const bool attribute = mode == Mode::kAttribute;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* run = p;
        while (p < end && *p != '<' && *p != '&' && !(attribute && IsXmlSpace(*p))) ++p;
        out->append(run, static_cast<std::size_t>(p - run));
        if (p == end) break;
        if (*p == '<') {
            if (!attribute) return Expansion::kMarkup;
            if (strict_) {
                Fail(VELK_ERROR_ENTITY_LT_IN_ATTRIBUTE, at);
                return Expansion::kFailed;
            }
            *out += *p++;
            continue;
        }
        if (*p != '&') {
            *out += ' ';
            ++p;
            continue;
        }
        unsigned long code;
        if (const char* after = CharReferenceEnd(p, end, &code)) {
            AppendUtf8(code, out);
            p = after;
            continue;
        }
        std::string_view name;
        const char* after = NamedReferenceEnd(p, end, &name);
        if (!after) {
            if (strict_) {
                Fail(VELK_ERROR_ENTITY_CONTENT, at);
                return Expansion::kFailed;
            }
            *out += *p++;
            continue;
        }
        if (const char c = Predefined(name)) {
            *out += c;
            p = after;
            continue;
        }
        DtdEntity* e = General(name);
        if (!e && attribute && !UndeclaredIsError()) {
            out->append(p, static_cast<std::size_t>(after - p));
        } else if (!e || e->external || (!attribute && e->use == DtdEntity::Use::kMarkup)) {
            // Content asks the parse into nodes to keep, refuse or expand it.
            if (!attribute) return Expansion::kMarkup;
            const char* next = InAttribute(p, end, out);
            if (!next) return Expansion::kFailed;
        } else {
            const Expansion nested = AppendText(e, mode, out, at);
            if (nested != Expansion::kDone) return nested;
        }
        p = after;
    }
    // Text alone in content is character data, which may not hold "]]>".
    if (strict_ && !attribute && text.find("]]>") != std::string::npos) {
        Fail(VELK_ERROR_ENTITY_CONTENT, at);
        return Expansion::kFailed;
    }
    return Expansion::kDone;
}

bool Dtd::Enter(DtdEntity* entity, const char* p) {
    if (entity->open) {
        Fail(VELK_ERROR_ENTITY_RECURSION, p);
        return false;
    }
    if (depth_ >= VELK_ENTITY_DEPTH_MAX) {
        Fail(VELK_ERROR_ENTITY_DEPTH, p);
        return false;
    }
    if (!Charge(entity->text.size(), p)) return false;
    if (depth_ == 0) anchor_ = p;
    entity->open = true;
    ++depth_;
    return true;
}

void Dtd::Leave(DtdEntity* entity) {
    VELK_ASSERT(entity->open && depth_ > 0);
    entity->open = false;
    if (--depth_ == 0) anchor_ = nullptr;
}

bool Dtd::Charge(std::size_t n, const char* at) {
    expanded_ += n;
    if (expanded_ <= budget_) return true;
    Fail(VELK_ERROR_ENTITY_EXPANSION, at);
    return false;
}

void Dtd::Fail(int err, const char* p) {
    if (!doc_) return;
    const std::less<const char*> before;
    const bool inInput = p && !before(p, input_) && !before(inputEnd_, p);
    const char* at = inInput ? p : anchor_;
    doc_->SetError(err, at, at ? data_ : nullptr);
}

void Dtd::PlaceError() {
    if (!doc_ || !anchor_ || !data_ || VelkAccess::ErrorCursor(*doc_).row >= 0) return;
    data_->Stamp(anchor_);
    VelkAccess::ErrorCursor(*doc_) = data_->Cursor();
}

const std::vector<DtdAttribute>* Dtd::AttributesOf(std::string_view element) const {
    if (attributes_.empty()) return nullptr;
    auto found = attributes_.find(std::string(element));
    return found == attributes_.end() ? nullptr : &found->second;
}

bool Dtd::AddDeclaredAttributes(VelkElement* element) const {
    const VelkString& tag = VelkAccess::Value(*element);
    const std::vector<DtdAttribute>* declared =
        AttributesOf(std::string_view(tag.c_str(), tag.size()));
    if (!declared) return true;
    VelkAttributeSet& attributes = VelkAccess::Attributes(*element);
    for (const DtdAttribute& def : *declared) {
        if (VelkAttribute* given = attributes.Find(def.name.c_str())) {
            if (!def.tokens) continue;
            VelkString& value = VelkAccess::Value(*given);
            std::string normal(value.c_str(), value.size());
            NormalizeTokens(&normal);
            if (normal.size() != value.size() && !Keep(doc_, &value, normal.data(), normal.size()))
                return false;
            continue;
        }
        if (!def.hasDefault) continue;
        VelkAttribute* attribute = Create<VelkAttribute>(doc_);
        if (!attribute) return false;
        attribute->SetDocument(doc_);
        if (!Keep(doc_, &VelkAccess::Name(*attribute), def.name.data(), def.name.size()) ||
            !Keep(doc_, &VelkAccess::Value(*attribute), def.value.data(), def.value.size())) {
            delete attribute;
            return false;
        }
        VelkAccess::Append(attributes, attribute);
    }
    return true;
}

bool Dtd::JoinText(VelkElement* parent, const char* p, std::size_t n, bool condense,
                   bool* joined) const {
    VelkNode* last = parent->LastChild();
    VelkText* before = last ? last->ToText() : nullptr;
    *joined = before && !before->CDATA() && !before->EntityReference();
    if (!*joined) return true;
    VelkString& value = VelkAccess::Value(*before);
    std::string text(value.c_str(), value.size());
    if (condense) text += ' ';
    text.append(p, n);
    return Keep(doc_, &value, text.data(), text.size());
}

void NormalizeTokens(std::string* value) {
    std::size_t out = 0;
    bool pending = false;
    for (const char c : *value) {
        if (c == ' ') {
            pending = out > 0;
            continue;
        }
        if (pending) (*value)[out++] = ' ';
        pending = false;
        (*value)[out++] = c;
    }
    value->resize(out);
}

}  // namespace TAVARO
