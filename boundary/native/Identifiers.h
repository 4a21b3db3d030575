// The framework's interface identifiers as the String objects queryInterface
// compares with, made from framework/Plugin.h's texts when the library is loaded.
#ifndef KELVO_BOUNDARY_NATIVE_IDENTIFIERS_H
#define KELVO_BOUNDARY_NATIVE_IDENTIFIERS_H

#include "framework/String.h"

namespace Qor::Identifiers {

// In the order of IdentifierText; queryInterface answers the first and the last two.
extern const String interfaceComponent;
extern const String componentInput;
extern const String interfaceInput;
extern const String componentOutputSingle;
extern const String componentOutputMultiple;
extern const String componentOutput;
extern const String interfaceOutput;
extern const String componentTransform;
extern const String interfaceTransform;

} // namespace Qor::Identifiers

#endif
