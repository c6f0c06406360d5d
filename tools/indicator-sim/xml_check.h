#pragma once

#include <string>

// Checks that a document is well-formed XML as far as the SVG writer's output goes: one root
// element, tags balanced and properly nested, attribute values quoted and unique per element,
// only the predefined and numeric entities, no "<" in text or attribute values. Returns an empty
// string when it is, otherwise what is wrong.
std::string XmlProblem(const std::string& document);
