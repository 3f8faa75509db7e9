#pragma once
// The description loader: instantiates a compiled object description under an existing object.
// Every element becomes a child created by tag (run-time templates first, then the type
// registry), gets its attributes, runs its lifecycle and gets its children; "template"
// elements become template holders whose bodies stay unparsed until an object is built from
// them; "content" elements become plain children carrying their parent's text in "value".
//
// Compiled layout (integers unsigned little-endian, no padding; changing it breaks every
// carried description): string count N (32), table length L (32), N string offsets (32 each,
// counted from the start of the offset array), the pool of NUL-terminated 8-bit strings, the
// root head (32, a string index), the root node. A node starts with a kind byte: 0 is an
// element - attribute count (16), (name, value) string index pairs (16 + 16), child count (16),
// children each as tag index (16), name index (16) and node -; any other kind is a deferred
// body - base tag index (16), body length B (32), then B bytes holding a head (32) and a node.
//
// Input is not trusted: a string index not below N, an offset outside the pool, a string
// without terminator, or a node or body running past the end is reported as a read past the
// end of a memory resource. The nesting depth, and the number of objects and the amount of
// name and value text one load (with the template expansions it triggers) may create, are
// bounded, so hostile input cannot exhaust the stack or the memory.
//
// The loader also expands run-time templates for the object model: installDescriptionParser()
// plugs it into the deferred-body hook (DeferredBody.h), after which `init` applies a
// template body's attributes and `initTemplateChilds` creates its children.

#include "Core/Error.h"
#include "Core/InputStream.h"
#include "Core/Text.h"

#include <cstddef>
#include <cstdint>

namespace zel
{

class CObject;
class CDeferredBodyParser;

// Loads the resource resourceName (built in, or else a file of that name) into target. Built-in
// payloads are parsed in place and template bodies borrow their bytes; a file is read whole
// into a buffer owned by the description's string table and template bodies own copies. With
// runLifecycleOnRoot, target runs init and initTemplateChilds after its attributes and
// initChilds after its children, and ends in state 4; elements below it always do. Installs the
// description parser when no deferred-body parser is installed yet.
CErrorPtr loadDescription(CObject& target, const CText& resourceName, bool runLifecycleOnRoot);

// How loadDescriptionFromMemory treats the bytes it is given.
enum class EDescriptionBytes
{
    kBorrowed, // they outlive every template holder the load creates: parsed in place
    kCopied,   // they may go away after the call: copied into the string table first
};

// Loads a compiled description held in memory (the same steps as loadDescription).
CErrorPtr loadDescriptionFromMemory(CObject& target, const std::uint8_t* data, std::size_t size,
                                    bool runLifecycleOnRoot, EDescriptionBytes bytes);

// Loads a compiled description read whole from stream (from its current position to its end).
CErrorPtr loadDescriptionFromStream(CObject& target, CPosInputStream& stream,
                                    bool runLifecycleOnRoot);

// The loader's template-body parser (one per process).
CDeferredBodyParser& descriptionParser();
// Installs descriptionParser() as the object model's deferred-body parser; returns the
// previous one.
CDeferredBodyParser* installDescriptionParser();

} // namespace zel
