// Interface identifiers as the Strings a host makes from
// framework/Plugin.h's texts to pass to queryInterface, for the tests, the
// benchmark and the fuzz targets.
#ifndef KELVO_TESTS_SUPPORT_IDENTIFIERS_H
#define KELVO_TESTS_SUPPORT_IDENTIFIERS_H

#include "framework/Plugin.h"
#include "framework/String.h"

namespace Qor::Identifiers {

// The three queryInterface answers.
inline const String interfaceComponent(IdentifierText::interfaceComponent, StandardAllocator<char>::instance());
inline const String interfaceTransform(IdentifierText::interfaceTransform, StandardAllocator<char>::instance());
inline const String componentTransform(IdentifierText::componentTransform, StandardAllocator<char>::instance());

} // namespace Qor::Identifiers

#endif
