// Helpers shared by the fuzz targets: stop on a broken property, and check a
// document's error state.
#ifndef VELK_FUZZ_FUZZ_UTIL_H
#define VELK_FUZZ_FUZZ_UTIL_H

#include <Velk/base/velk.h>

#include "tree_diff.h"
#include "velk_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace velkfuzz {

// A non-empty description is a finding: print it and stop.
inline void Require(const std::string& fault, const char* what) {
    if (fault.empty()) return;
    std::fprintf(stderr, "%s: %s\n", what, fault.c_str());
    std::abort();
}

inline void Require(bool ok, const char* what) {
    if (!ok) Require(std::string("property does not hold"), what);
}

using velkcheck::Condensing;

// The error state of a document is one of the table's, with its own message.
inline void CheckErrorState(const TAVARO::VelkDocument& doc) {
    if (!doc.Error()) {
        Require(doc.ErrorCode() == 0 && std::string(doc.ErrorMessage()).empty(),
                "clear error state");
        return;
    }
    int code = doc.ErrorCode();
    Require(code > 0 && code < TAVARO::VELK_ERROR_STRING_COUNT, "error code in range");
    Require(std::string(doc.ErrorMessage()) == TAVARO::VelkBase::errorString[code],
            "error message");
    const TAVARO::VelkCursor& at = doc.ErrorCursor();
    Require((at.row == -1) == (at.col == -1) && at.row >= -1 && at.col >= -1, "error cursor");
}

}  // namespace velkfuzz

#endif  // VELK_FUZZ_FUZZ_UTIL_H
