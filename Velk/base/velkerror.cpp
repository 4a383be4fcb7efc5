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
    "Error: markup declaration not well formed.",
    "Error: parameter-entity reference inside a markup declaration of the internal subset.",
    "Error: undeclared entity.",
    "Error: entity references itself.",
    "Error: reference to an external entity.",
    "Error: reference to an unparsed entity.",
    "Error: entity puts '<' in an attribute value.",
    "Error: entity text is not well-formed content.",
    "Error: entity references nested too deeply.",
    "Error: entity expansion too large for the input.",
};

}  // namespace TAVARO
