// The written forms of a document, as UTF-8 text.
#ifndef VELK_TOOL_OUTPUT_H
#define VELK_TOOL_OUTPUT_H

#include <string>

#include "Velk/base/velk.h"

namespace velktool {

// The pretty form, each top-level node on a line of its own: an element that
// holds text is written as it stands, in compact form, and only the children
// of an element that holds no text go on lines of their own, indented by four
// spaces a level. With condense, the library's own pretty form, which trims
// and collapses the white space of every text instead. False when memory runs
// out.
bool PrettyForm(const TAVARO::VelkDocument& doc, bool condense, std::string* out);

// The compact form, on one line: the top-level nodes up to the end of the
// first element.
void CompactForm(const TAVARO::VelkDocument& doc, std::string* out);

}  // namespace velktool

#endif  // VELK_TOOL_OUTPUT_H
