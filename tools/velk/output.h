// The written forms of a document, as UTF-8 text.
#ifndef VELK_TOOL_OUTPUT_H
#define VELK_TOOL_OUTPUT_H

#include <functional>
#include <string>

#include "Velk/base/velk.h"

namespace velktool {

enum class Form {
    // Each top-level node on a line of its own, and the children of an element
    // that holds no text each on a line of their own, indented by four spaces
    // a level.
    kPretty,
    // On one line: the top-level nodes up to the end of the first element.
    kCompact,
};

// Takes the written form in pieces as it is made, each ending between two
// nodes, and empties the string it is given; false stops the writing.
using Drain = std::function<bool(std::string* text)>;

// Writes the form of doc into out. No text changes: an element that holds
// text is written as it stands, and only the white space alone between the
// children of an element that holds no text is left out (the pretty form
// puts line breaks and indentation there). With condense, the library's own
// forms, which trim and collapse the white space of every text instead. With
// a drain, out is handed over whenever it holds a megabyte or more, and at
// the end. False when memory runs out or the drain fails.
bool WriteForm(const TAVARO::VelkDocument& doc, Form form, bool condense, std::string* out,
               const Drain& drain = nullptr);

}  // namespace velktool

#endif  // VELK_TOOL_OUTPUT_H
