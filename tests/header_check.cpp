// Compiled once per language standard: the public header alone must build.
#include "Velk/base/velk.h"

#if __cplusplus < 201103L
#error "the header is checked as C++11 or later"
#endif

namespace {
int UseHeader() {
    TAVARO::VelkDocument doc;
    TAVARO::VelkHandle handle(&doc);
    return handle.FirstChildElement("x").Node() == nullptr ? TAVARO::VELK_NO_ERROR
                                                           : TAVARO::VELK_ERROR;
}
}  // namespace

int (*velk_header_check)() = UseHeader;
