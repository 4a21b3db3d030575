#include "boundary/native/Identifiers.h"

#include "framework/Plugin.h"

namespace Qor::Identifiers {

namespace {
StandardAllocator<char>* const units = StandardAllocator<char>::instance();
}

// Defined in this order in one unit, so they are made in this order at load.
const String interfaceComponent(IdentifierText::interfaceComponent, units);
const String componentInput(IdentifierText::componentInput, units);
const String interfaceInput(IdentifierText::interfaceInput, units);
const String componentOutputSingle(IdentifierText::componentOutputSingle, units);
const String componentOutputMultiple(IdentifierText::componentOutputMultiple, units);
const String componentOutput(IdentifierText::componentOutput, units);
const String interfaceOutput(IdentifierText::interfaceOutput, units);
const String componentTransform(IdentifierText::componentTransform, units);
const String interfaceTransform(IdentifierText::interfaceTransform, units);

} // namespace Qor::Identifiers
