// The reference-counted root of every plug-in object. The host holds it
// through the pointer that getPlugin hands back and reaches everything else
// by interface lookup.
#ifndef KELVO_FRAMEWORK_PLUGIN_H
#define KELVO_FRAMEWORK_PLUGIN_H

#include "framework/String.h"

#include <stdint.h>

namespace Qor {

class Host;

// queryInterface answers one of these.
enum : int32_t {
    InterfaceFound = 0,
    InterfaceNotFound = 3,
};

// The framework's interface identifiers, as texts a host turns into the
// String it passes to queryInterface; no linking needed (each translation
// unit has its own copy). queryInterface
// answers interfaceComponent, componentTransform and interfaceTransform; the
// other six name interfaces of other kinds of component.
namespace IdentifierText {
constexpr char interfaceComponent[] = "com.kelvo.vandrel.interface.component";
constexpr char componentInput[] = "com.kelvo.vandrel.component.input";
constexpr char interfaceInput[] = "com.kelvo.vandrel.interface.input";
constexpr char componentOutputSingle[] = "com.kelvo.vandrel.component.output.single";
constexpr char componentOutputMultiple[] = "com.kelvo.vandrel.component.output.multiple";
constexpr char componentOutput[] = "com.kelvo.vandrel.component.output";
constexpr char interfaceOutput[] = "com.kelvo.vandrel.interface.output";
constexpr char componentTransform[] = "com.kelvo.vandrel.component.transform";
constexpr char interfaceTransform[] = "com.kelvo.vandrel.interface.transform";
} // namespace IdentifierText

// The virtual order and the field order of this class are part of the
// contract with hosts. Counting is plain, not atomic: the host serialises calls.
class Plugin {
public:
    explicit Plugin(Host* host) noexcept;
    virtual ~Plugin();

    // The count after the increment.
    virtual int32_t addReference();
    // The count after the decrement. At 0 the host is told before
    // (willDestroyPlugin) and after (didDestroyPlugin) the object is destroyed.
    virtual int32_t dropReference();
    virtual int32_t referenceCount();
    virtual int32_t auxiliaryValue();
    virtual Host* getHost();
    // Sets *result to the interface named by `identifier` and answers
    // InterfaceFound, or sets it to null and answers InterfaceNotFound.
    // Adds no reference.
    virtual int32_t queryInterface(const String& identifier, void** result) = 0;

protected:
    int32_t references;
    Host* hostObject;
    int32_t auxiliary;
};

} // namespace Qor

#endif
