// The written forms of a document, as UTF-8 text.
#ifndef VELK_TOOL_OUTPUT_H
#define VELK_TOOL_OUTPUT_H

#include <string>

#include "Velk/base/velk.h"

namespace velktool {

// The pretty form, each top-level node on a line of its own. Without keepText
// the library's own; with it, an element that holds text is written as it
// stands, in compact form, and only the children of an element that holds no
// text go on lines of their own, indented by four spaces a level. False when
// memory runs out.
bool PrettyForm(const TAVARO::VelkDocument& doc, bool keepText, std::string* out);

// The compact form, on one line: the top-level nodes up to the end of the
// first element.
std::string CompactForm(const TAVARO::VelkDocument& doc);

}  // namespace velktool

#endif  // VELK_TOOL_OUTPUT_H
