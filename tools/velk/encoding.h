// The character encoding of an XML file: its bytes are read into UTF-8 text,
// and the text is written back in the same encoding.
#ifndef VELK_TOOL_ENCODING_H
#define VELK_TOOL_ENCODING_H

#include <cstddef>
#include <string>

namespace velktool {

// How a file's bytes stand for its text.
struct Encoding {
    // The character set, as iconv names it; "UTF-8" when the file declares none.
    std::string name;
    // The byte-order mark the file began with (empty for none); written back as it was.
    std::string byteOrderMark;
};

enum class DecodeStatus {
    kOk,
    kUnknownEncoding,      // iconv does not know the declared encoding
    kInvalidBytes,         // bytes that do not form a character of the encoding
    kDisallowedCharacter,  // a character XML does not allow, such as NUL
    kMisdeclared,          // the declaration names an encoding it is not written in
};

struct Decoded {
    DecodeStatus status = DecodeStatus::kOk;
    Encoding encoding;
    // The document in UTF-8, without a byte-order mark. With kUnknownEncoding
    // and kMisdeclared the bytes as they are; with the two faults of
    // characters, the text up to the fault.
    std::string text;
    // With kInvalidBytes and kDisallowedCharacter, the offset of the fault in text.
    size_t faultAt = 0;
    // With kDisallowedCharacter, the character.
    unsigned long character = 0;
    // When the text was converted, the encoding its declaration named, taken
    // out of the text (overwritten with white space) since the text is UTF-8
    // now; empty when the declaration names none or names it out of place.
    std::string unnamedEncoding;
};

// Whether XML allows character c in a document.
bool IsXmlCharacter(unsigned long c);

// Reads a file's bytes, which it takes over: UTF-16 after a UTF-16 byte-order
// mark, otherwise the encoding its declaration names, or UTF-8 when it names
// none. UTF-8 and ASCII text is checked where it lies, without a copy.
Decoded Decode(std::string&& bytes);

// Whether encoding is UTF-8 or ASCII, in which UTF-8 text is written as it is
// (in ASCII, as long as it holds nothing but ASCII).
bool IsUtf8OrAscii(const Encoding& encoding);

// Whether UTF-8 text is written in encoding as it is, after the byte-order
// mark: in UTF-8, and in ASCII when the text holds nothing but ASCII.
bool WrittenAsIs(const std::string& text, const Encoding& encoding);

// Writes UTF-8 text in encoding, byte-order mark first. A character the encoding
// lacks is written as a character reference (the document got it from one).
// False when iconv fails.
bool Encode(const std::string& text, const Encoding& encoding, std::string* bytes);

}  // namespace velktool

#endif  // VELK_TOOL_ENCODING_H
