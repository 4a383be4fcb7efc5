// Compiled once per language standard: the public header alone must build,
// with the range, string, ownership and output forms that each standard has.
#include "Velk/base/velk.h"

#include <memory>
#include <string>

#if __cplusplus < 201103L
#error "the header is checked as C++11 or later"
#endif

namespace {
int UseHeader() {
    TAVARO::VelkDocument doc;
    doc.Parse(std::string("<r a='1'><e/></r>"));
    TAVARO::VelkHandle handle(&doc);
    int count = 0;
    const std::string name = "r";
    for (TAVARO::VelkElement& e : doc.ChildElements(name)) {
        for (const TAVARO::VelkAttribute& a : e.Attributes())
            count += static_cast<int>(a.ValueLength());
        e.SetAttribute("ratio", 1.5);
        e.LinkEndChild(std::unique_ptr<TAVARO::VelkNode>(new TAVARO::VelkText("t")));
    }
    std::string pretty;
    doc.Print(&pretty);
#if VELK_HAS_STRING_VIEW
    count += static_cast<int>(doc.FirstChildElement(std::string_view("r"))->ValueView().size());
#endif
    return handle.FirstChildElement("x").Node() == nullptr && count > 0 ? TAVARO::VELK_NO_ERROR
                                                                        : TAVARO::VELK_ERROR;
}
}  // namespace

int (*velk_header_check)() = UseHeader;
