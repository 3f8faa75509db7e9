#include "DescCompiler/DescCompiler.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <sstream>

namespace zel
{
namespace
{

constexpr std::size_t kMaxStrings = 65536;
constexpr std::size_t kMaxCount = 0xFFFF; // attribute and child counts are 16-bit
constexpr int kMaxDepth = 256;            // keeps recursion bounded on hostile sources
constexpr std::string_view kRootElement = "description";
constexpr std::string_view kTemplateTag = "template";
constexpr std::string_view kContentTag = "content";

// Where an element's attributes go: the root's "name" is refused, a child's "name" names it,
// a template's "name" and "base" name the template and its base type.
enum class ERole
{
    root,
    child,
    templateBody
};

bool isSourceOnlyAttribute(std::string_view name)
{
    return name.starts_with("xml:") || name == "xmlns" || name.starts_with("xmlns:");
}

std::string cat(std::initializer_list<std::string_view> parts)
{
    std::string out;
    for (const std::string_view part : parts)
        out += part;
    return out;
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Folds runs of white space into one space and trims both ends.
std::string foldWhiteSpace(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    bool pendingSpace = false;
    for (const char c : text)
    {
        if (isXmlSpace(c))
        {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out += ' ';
        pendingSpace = false;
        out += c;
    }
    return out;
}

bool isAllWhiteSpace(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), isXmlSpace);
}

std::string hexCodePoint(std::uint32_t cp)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
    return buffer;
}

void putU16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

void patchU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

class CCompilation
{
public:
    CCompilation(std::string_view source, std::string_view sourceName)
        : m_source(source), m_sourceName(sourceName)
    {
        m_lineStarts.push_back(0);
        for (std::size_t i = 0; i < source.size(); ++i)
            if (source[i] == '\n')
                m_lineStarts.push_back(i + 1);
    }

    CErrorPtr run(std::vector<std::uint8_t>& out)
    {
        pugi::xml_document doc;
        const unsigned flags = pugi::parse_minimal | pugi::parse_cdata | pugi::parse_escapes |
                               pugi::parse_eol | pugi::parse_ws_pcdata;
        const pugi::xml_parse_result parsed =
            doc.load_buffer(m_source.data(), m_source.size(), flags, pugi::encoding_utf8);
        if (!parsed)
            return fail(lineAt(parsed.offset), "XmlSyntax",
                        cat({"XML error: ", parsed.description(), "."}));

        const pugi::xml_node root = doc.document_element();
        // The parser accepts several top-level elements; a description has one.
        for (const pugi::xml_node& top : doc.children())
            if (top.type() == pugi::node_element && top != root)
                return fail(lineOf(top), "OutsideRoot",
                            "Only one document element may stand at the top level.");
        if (std::string_view(root.name()) != kRootElement)
            return fail(
                lineOf(root), "RootElement",
                cat({"The document element must be <description>, not <", root.name(), ">."}));

        std::uint16_t rootTag = 0;
        ZEL_TRY(stringIndex("", 1, rootTag), m_sourceName); // string 0 is the empty string
        putU32(m_tree, rootTag);
        ZEL_TRY(writeElementNode(root, ERole::root, false, 0), m_sourceName);
        assemble(out);
        return nullptr;
    }

private:
    int lineAt(std::ptrdiff_t offset) const
    {
        if (offset < 0)
            return 1;
        const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(),
                                         static_cast<std::size_t>(offset));
        return static_cast<int>(it - m_lineStarts.begin());
    }

    int lineOf(const pugi::xml_node& node) const { return lineAt(node.offset_debug()); }

    CErrorPtr fail(int line, std::string_view errorName, const std::string& detail) const
    {
        return ZEL_ERROR(m_sourceName, cat({"zelstr_CDescCompiler_compile_", errorName}),
                         "%1:%2: %3", {std::string(m_sourceName), std::to_string(line), detail});
    }

    // Converts UTF-8 to the carried Latin-1 form.
    CErrorPtr toLatin1(std::string_view utf8, int line, std::string& out) const
    {
        out.clear();
        out.reserve(utf8.size());
        for (std::size_t i = 0; i < utf8.size();)
        {
            const auto lead = static_cast<unsigned char>(utf8[i]);
            std::size_t length = 0;
            std::uint32_t cp = 0;
            if (lead < 0x80)
                length = 1, cp = lead;
            else if ((lead & 0xE0) == 0xC0)
                length = 2, cp = lead & 0x1Fu;
            else if ((lead & 0xF0) == 0xE0)
                length = 3, cp = lead & 0x0Fu;
            else if ((lead & 0xF8) == 0xF0)
                length = 4, cp = lead & 0x07u;
            if (length == 0 || i + length > utf8.size())
                return fail(line, "InvalidUtf8", "The source is not valid UTF-8.");
            for (std::size_t k = 1; k < length; ++k)
            {
                const auto cont = static_cast<unsigned char>(utf8[i + k]);
                if ((cont & 0xC0) != 0x80)
                    return fail(line, "InvalidUtf8", "The source is not valid UTF-8.");
                cp = (cp << 6) | (cont & 0x3Fu);
            }
            if (cp == 0)
                return fail(line, "NulCharacter", "A text holds a NUL character.");
            if (cp > 0xFF)
                return fail(line, "CharacterRange",
                            cat({"Character ", hexCodePoint(cp),
                                 " cannot be carried: description strings are 8-bit (Latin-1)."}));
            out += static_cast<char>(static_cast<unsigned char>(cp));
            i += length;
        }
        return nullptr;
    }

    // The index of a string, given on first use.
    CErrorPtr stringIndex(std::string_view utf8, int line, std::uint16_t& index)
    {
        std::string text;
        ZEL_TRY(toLatin1(utf8, line, text), m_sourceName);
        const auto found = m_indexOf.find(text);
        if (found != m_indexOf.end())
        {
            index = found->second;
            return nullptr;
        }
        if (m_strings.size() >= kMaxStrings)
            return fail(line, "TooManyStrings",
                        "The description needs more than 65536 distinct strings.");
        index = static_cast<std::uint16_t>(m_strings.size());
        m_strings.push_back(text);
        m_indexOf.emplace(std::move(text), index);
        return nullptr;
    }

    CErrorPtr putString(std::string_view utf8, int line)
    {
        std::uint16_t index = 0;
        ZEL_TRY(stringIndex(utf8, line, index), m_sourceName);
        putU16(m_tree, index);
        return nullptr;
    }

    static std::string describe(const pugi::xml_node& node)
    {
        std::string out = cat({"<", node.name(), ">"});
        if (const pugi::xml_attribute name = node.attribute("name"))
            out += cat({" '", name.value(), "'"});
        return out;
    }

    CErrorPtr readXmlSpace(const pugi::xml_node& node, bool& preserve) const
    {
        const pugi::xml_attribute space = node.attribute("xml:space");
        if (!space)
            return nullptr;
        const std::string_view value = space.value();
        if (value == "preserve")
            preserve = true;
        else if (value == "default")
            preserve = false;
        else
            return fail(
                lineOf(node), "XmlSpace",
                cat({"xml:space must be \"preserve\" or \"default\", not \"", value, "\"."}));
        return nullptr;
    }

    // Writes kind, attributes and children of an element. For the root and template bodies
    // the caller has written what precedes the node.
    CErrorPtr writeElementNode(const pugi::xml_node& node, ERole role, bool preserve, int depth)
    {
        const int line = lineOf(node);
        if (depth > kMaxDepth)
            return fail(line, "TooDeep", "Elements are nested deeper than 256 levels.");
        ZEL_TRY(readXmlSpace(node, preserve), m_sourceName);

        std::vector<pugi::xml_attribute> attributes;
        std::set<std::string_view> seen;
        for (const pugi::xml_attribute& attr : node.attributes())
        {
            const std::string_view name = attr.name();
            if (!seen.insert(name).second)
                return fail(
                    line, "DuplicateAttribute",
                    cat({"Attribute '", name, "' is given twice on ", describe(node), "."}));
            if (isSourceOnlyAttribute(name))
                continue;
            if (name == "name")
            {
                if (role == ERole::root)
                    return fail(line, "RootName",
                                "<description> stands for the object it is loaded into and "
                                "takes no 'name'.");
                continue;
            }
            if (name == "base" && role == ERole::templateBody)
                continue;
            attributes.push_back(attr);
        }
        if (attributes.size() > kMaxCount)
            return fail(line, "TooManyAttributes",
                        cat({describe(node), " has more than 65535 attributes."}));

        std::vector<pugi::xml_node> children;
        std::string text;
        int textLine = 0;
        for (const pugi::xml_node& child : node.children())
        {
            if (child.type() == pugi::node_element)
                children.push_back(child);
            else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            {
                const std::string_view piece = child.value();
                if (textLine == 0 && !isAllWhiteSpace(piece))
                {
                    // The line of the first character that is not white space.
                    const std::string_view lead =
                        piece.substr(0, piece.find_first_not_of(" \t\r\n"));
                    textLine = lineOf(child) +
                               static_cast<int>(std::count(lead.begin(), lead.end(), '\n'));
                }
                text += piece;
            }
        }
        if (!preserve)
            text = foldWhiteSpace(text);
        if (!children.empty())
        {
            if (textLine != 0)
                return fail(textLine, "MixedContent",
                            cat({describe(node), " mixes text with child elements."}));
            text.clear(); // indentation between child elements
        }
        const bool hasContent = !text.empty();
        const std::size_t childCount = children.size() + (hasContent ? 1 : 0);
        if (childCount > kMaxCount)
            return fail(line, "TooManyChildren",
                        cat({describe(node), " has more than 65535 children."}));

        m_tree.push_back(0); // element
        putU16(m_tree, static_cast<std::uint16_t>(attributes.size()));
        for (const pugi::xml_attribute& attr : attributes)
        {
            ZEL_TRY(putString(attr.name(), line), m_sourceName);
            ZEL_TRY(putString(attr.value(), line), m_sourceName);
        }
        putU16(m_tree, static_cast<std::uint16_t>(childCount));
        if (hasContent)
            ZEL_TRY(writeContentChild(text, textLine == 0 ? line : textLine), m_sourceName);
        for (const pugi::xml_node& child : children)
            ZEL_TRY(writeChild(child, preserve, depth + 1), m_sourceName);
        return nullptr;
    }

    CErrorPtr writeContentChild(const std::string& text, int line)
    {
        ZEL_TRY(putString(kContentTag, line), m_sourceName); // tag
        ZEL_TRY(putString(kContentTag, line), m_sourceName); // name
        m_tree.push_back(0);
        putU16(m_tree, 1);
        ZEL_TRY(putString("value", line), m_sourceName);
        ZEL_TRY(putString(text, line), m_sourceName);
        putU16(m_tree, 0);
        return nullptr;
    }

    CErrorPtr writeChild(const pugi::xml_node& node, bool preserve, int depth)
    {
        const int line = lineOf(node);
        const std::string_view tag = node.name();
        if (tag == kRootElement)
            return fail(line, "NestedDescription",
                        "<description> may only be the document element.");
        const pugi::xml_attribute nameAttr = node.attribute("name");
        std::string_view name = nameAttr.value();
        if (!nameAttr)
        {
            if (tag != kContentTag)
                return fail(line, "NoName", cat({"<", tag, "> has no 'name' attribute."}));
            name = kContentTag;
        }
        ZEL_TRY(putString(tag, line), m_sourceName);
        ZEL_TRY(putString(name, line), m_sourceName);
        if (tag != kTemplateTag)
            return ZEL_PASS(writeElementNode(node, ERole::child, preserve, depth), m_sourceName);

        if (name.empty())
            return fail(line, "TemplateName", "A <template> needs a non-empty 'name'.");
        const std::string_view base = node.attribute("base").value();
        if (base.empty())
            return fail(line, "TemplateBase",
                        cat({"Template '", name,
                             "' needs a 'base' attribute naming the type it builds on."}));
        std::uint16_t baseIndex = 0;
        ZEL_TRY(stringIndex(base, line, baseIndex), m_sourceName);
        m_tree.push_back(1); // deferred body
        putU16(m_tree, baseIndex);
        const std::size_t lengthAt = m_tree.size();
        putU32(m_tree, 0);
        const std::size_t bodyStart = m_tree.size();
        putU32(m_tree, baseIndex); // the body's head
        ZEL_TRY(writeElementNode(node, ERole::templateBody, preserve, depth), m_sourceName);
        const std::size_t bodyLength = m_tree.size() - bodyStart;
        if (bodyLength > std::numeric_limits<std::uint32_t>::max())
            return fail(line, "TooLarge", cat({"Template '", name, "' exceeds 4 GiB."}));
        patchU32(m_tree, lengthAt, static_cast<std::uint32_t>(bodyLength));
        return nullptr;
    }

    void assemble(std::vector<std::uint8_t>& out) const
    {
        const std::size_t count = m_strings.size();
        std::vector<std::size_t> sorted(count);
        for (std::size_t i = 0; i < count; ++i)
            sorted[i] = i;
        std::sort(sorted.begin(), sorted.end(),
                  [this](std::size_t a, std::size_t b) { return m_strings[a] < m_strings[b]; });

        std::vector<std::uint32_t> offsets(count);
        std::size_t position = 4 * count;
        for (const std::size_t index : sorted)
        {
            offsets[index] = static_cast<std::uint32_t>(position);
            position += m_strings[index].size() + 1;
        }
        const std::size_t tableLength = position;

        out.clear();
        out.reserve(8 + tableLength + m_tree.size());
        putU32(out, static_cast<std::uint32_t>(count));
        putU32(out, static_cast<std::uint32_t>(tableLength));
        for (const std::uint32_t offset : offsets)
            putU32(out, offset);
        for (const std::size_t index : sorted)
        {
            out.insert(out.end(), m_strings[index].begin(), m_strings[index].end());
            out.push_back(0);
        }
        out.insert(out.end(), m_tree.begin(), m_tree.end());
    }

    std::string_view m_source;
    std::string m_sourceName;
    std::vector<std::size_t> m_lineStarts;
    std::vector<std::string> m_strings;             // by index
    std::map<std::string, std::uint16_t> m_indexOf; // ordered by unsigned bytes
    std::vector<std::uint8_t> m_tree;               // root head and root node
};

} // namespace

CErrorPtr CDescCompiler::compile(std::string_view source, std::string_view sourceName,
                                 std::vector<std::uint8_t>& out)
{
    out.clear();
    CCompilation compilation(source, sourceName);
    return compilation.run(out);
}

CErrorPtr CDescCompiler::compileFile(const std::string& path, std::vector<std::uint8_t>& out)
{
    out.clear();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad())
        return ZEL_ERROR(path, "zelstr_CDescCompiler_compileFile_ReadError",
                         "Cannot read the description source '%1'.", {path});
    const std::string source = text.str();
    return compile(source, path, out);
}

} // namespace zel
