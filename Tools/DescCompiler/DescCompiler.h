#pragma once
// CDescCompiler: the build-time compiler from the readable XML source of an object description
// to the compiled binary form that the library carries and the description loader parses in
// place. It is not a loader and knows nothing of the type registry: it checks the source's
// shape (names, templates, limits, characters), not whether a tag exists.
//
// Source conventions
// - The document element is <description>. It stands for the object the description is
//   loaded into: its attributes become that object's attributes, its child elements its
//   children. It takes no "name"; the root head written for it is string index 0 (empty).
// - Every other element is one child object. The element name is the child's tag (a
//   registered type such as "core:object", or the name of a run-time template), the
//   attribute "name" is the child's name (required), and every other attribute becomes an
//   attribute of the child, in source order. Attributes of the "xml" and "xmlns" families
//   are source-only and never carried.
// - <template name="N" base="B" ...> defines the run-time template N built on the registered
//   type B. It is compiled as a deferred body whose base tag is B; its other attributes and
//   its children form the body.
// - Text content of an element becomes a child with tag and name "content" whose attribute
//   "value" holds the text. Runs of white space (space, tab, CR, LF) are folded into one
//   space and the text is trimmed, so paragraphs may be wrapped freely in the source;
//   xml:space="preserve" on the element or an ancestor keeps the text exactly as written
//   (line ends normalised to LF), xml:space="default" switches folding back on. Text that is
//   empty after folding adds no child. An element may not mix text with child elements.
// - Attribute values are taken as written, after entity expansion (line ends become LF;
//   no further white-space folding).
// - Strings are carried as 8-bit Latin-1, the 8-bit form of the framework's text type: the
//   UTF-8 source may use any character up to U+00FF; higher characters and NUL are errors.
//
// Compiled layout (all integers unsigned little-endian, no padding): string count N (32),
// table length L (32) = 4N + pool size, N offsets (32 each) counted from the start of the
// offset array, the pool of NUL-terminated strings, the root head (32), the root node.
// String 0 is the empty string. Each distinct string is stored once; the pool holds them in
// ascending byte order while indexes are given in order of first use, i.e. in the order in
// which the compiler writes string indexes while serialising the tree depth-first: root head,
// then per element its attribute names and values in order, then per child its tag, its name
// and its node (for a template: the base tag, then the body). At most 65536 strings.
// Element node: kind 0 (8), attribute count (16), (name, value) index pairs (16 + 16), child
// count (16), children each as tag index (16), name index (16), node. Deferred body: kind 1
// (8), base tag index (16), body length B (32), body = base tag index again (32) + node.

#include "Core/Error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel
{

class CDescCompiler
{
public:
    // Compiles UTF-8 XML source text. sourceName names the source in error messages, which
    // read "<sourceName>:<line>: <what is wrong>". On success out holds the compiled
    // description; on failure out is left empty.
    static CErrorPtr compile(std::string_view source, std::string_view sourceName,
                             std::vector<std::uint8_t>& out);

    // Reads the file at path and compiles it; the path is the source name.
    static CErrorPtr compileFile(const std::string& path, std::vector<std::uint8_t>& out);
};

} // namespace zel
