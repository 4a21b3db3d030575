#include "framework/Identifiers.h"

namespace Qor::Identifiers {

namespace {
StandardAllocator<char>* const units = StandardAllocator<char>::instance();
}

// Defined in this order in one unit, so they are made in this order at load.
const String interfaceComponent("com.kelvo.vandrel.interface.component", units);
const String componentInput("com.kelvo.vandrel.component.input", units);
const String interfaceInput("com.kelvo.vandrel.interface.input", units);
const String componentOutputSingle("com.kelvo.vandrel.component.output.single", units);
const String componentOutputMultiple("com.kelvo.vandrel.component.output.multiple", units);
const String componentOutput("com.kelvo.vandrel.component.output", units);
const String interfaceOutput("com.kelvo.vandrel.interface.output", units);
const String componentTransform("com.kelvo.vandrel.component.transform", units);
const String interfaceTransform("com.kelvo.vandrel.interface.transform", units);

} // namespace Qor::Identifiers
