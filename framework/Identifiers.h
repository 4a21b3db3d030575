// The framework's interface identifiers, made when the library is loaded.
#ifndef KELVO_FRAMEWORK_IDENTIFIERS_H
#define KELVO_FRAMEWORK_IDENTIFIERS_H

#include "framework/String.h"

namespace Qor::Identifiers {

// queryInterface answers the first of these, and the last two.
extern const String interfaceComponent;      // "com.kelvo.vandrel.interface.component"
extern const String componentInput;          // "com.kelvo.vandrel.component.input"
extern const String interfaceInput;          // "com.kelvo.vandrel.interface.input"
extern const String componentOutputSingle;   // "com.kelvo.vandrel.component.output.single"
extern const String componentOutputMultiple; // "com.kelvo.vandrel.component.output.multiple"
extern const String componentOutput;         // "com.kelvo.vandrel.component.output"
extern const String interfaceOutput;         // "com.kelvo.vandrel.interface.output"
extern const String componentTransform;      // "com.kelvo.vandrel.component.transform"
extern const String interfaceTransform;      // "com.kelvo.vandrel.interface.transform"

} // namespace Qor::Identifiers

#endif
