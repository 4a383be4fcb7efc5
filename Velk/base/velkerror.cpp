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
};

}  // namespace TAVARO
