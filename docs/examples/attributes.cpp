// Reading attributes as text, as numbers with and without checking, and setting them.
#include <Velk/base/velk.h>

#include <cstdio>
#include <string>

using namespace TAVARO;

const char* ResultName(int result) {
    switch (result) {
        case VELK_ATTR_OK:
            return "ok";
        case VELK_ATTR_MISSING:
            return "missing";
        case VELK_ATTR_NOT_NUMERIC:
            return "not numeric";
    }
    return "?";
}

int main() {
    VelkDocument doc;
    doc.Parse("<point x='12' y='3.5' label='apex' z='7 cm'/>", nullptr);
    VelkElement* point = doc.FirstChildElement("point");

    // As text: null when the attribute is missing.
    const char* color = point->Attribute("color");
    std::printf("label=%s color=%s\n", point->Attribute("label"), color ? color : "(missing)");

    // Plain conversion (atoi, atof): 0 when the value is missing or not a number.
    int x = -1;
    int label = -1;
    double y = -1;
    point->Attribute("x", &x);
    point->Attribute("label", &label);
    point->Attribute("y", &y);
    std::printf("x=%d label=%d y=%g\n", x, label, y);

    // Checked conversion: a result code; the output is set only on VELK_ATTR_OK.
    const char* names[] = {"x", "z", "label", "color"};
    for (const char* name : names) {
        int value = -1;
        int result = point->QueryIntAttribute(name, &value);
        std::printf("%s: %s, value %d\n", name, ResultName(result), value);
    }
    double precise = 0;
    if (point->QueryDoubleAttribute("y", &precise) == VELK_ATTR_OK) std::printf("y=%g\n", precise);

    // Setting: numbers are stored as text; a new name is appended at the end.
    point->SetAttribute("x", 13);
    point->SetAttribute("label", "top & \"centre\"");
    point->SetAttribute("kind", "corner");
    point->RemoveAttribute("z");
    point->FirstAttribute()->Next()->SetDoubleValue(4.25);
    for (const VelkAttribute* a = point->FirstAttribute(); a; a = a->Next())
        std::printf("%s = %s\n", a->Name(), a->Value());

    std::string out;
    out << *point;  // the compact form, escaped
    std::printf("%s\n", out.c_str());
    return 0;
}
