// The message of every error code, indexed by code.
#include "velk.h"

namespace TAVARO {

const char* const VelkBase::errorString[VELK_ERROR_STRING_COUNT] = {
    "No error",
    "Error",
    "Failed to open file",
    "Memory allocation failed.",
    "Error parsing Element.",
    "Failed to read Element name",
    "Error reading Element value.",
    "Error reading Attributes.",
    "Error: empty tag.",
    "Error reading end tag.",
    "Error parsing Unknown.",
    "Error parsing Comment.",
    "Error parsing Declaration.",
    "Error document empty.",
    "Error: text outside the document element.",
    "Error: end tag without a start tag.",
    "Error: CDATA section not closed.",
    "Error: character not allowed in XML.",
    "Error: more than one document element.",
    "Error: undeclared entity.",
    "Error: end tag does not match its start tag.",
    "Error: '--' inside a comment.",
    "Error: not a well-formed XML name.",
    "Error: malformed tag.",
    "Error: attributes not separated by white space.",
    "Error: attribute value not quoted.",
    "Error: '<' in an attribute value.",
    "Error: attribute given twice in one tag.",
    "Error: '&' not starting a complete reference.",
    "Error: character reference to a character not allowed in XML.",
    "Error: ']]>' in character data.",
    "Error: invalid UTF-8.",
    "Error: processing instruction target reserved or malformed.",
    "Error: markup of no kind XML knows.",
    "Error: XML declaration malformed (version first, then encoding, then standalone).",
    "Error: encoding not supported (UTF-8 only).",
    "Error: XML declaration or DOCTYPE out of place.",
    "Error: malformed DOCTYPE.",
    "Error: input ends before the markup or element is closed.",
};

}  // namespace TAVARO
