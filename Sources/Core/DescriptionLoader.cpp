#include "Core/DescriptionLoader.h"

#include "Core/DeferredBody.h"
#include "Core/MemoryReader.h"
#include "Core/Object.h"
#include "Core/ResourceStore.h"

#include <limits>
#include <memory>
#include <string>
#include <vector>

// Hands an error on unchanged: the caller adds the trail entry of the object it works on.
#define KELV_FORWARD(expr)                                                                         \
    do                                                                                             \
    {                                                                                              \
        if (::zel::CErrorPtr forwardErr_ = (expr))                                                 \
            return forwardErr_;                                                                    \
    } while (false)

namespace zel
{
namespace
{
// Deepest nesting of node parses (elements inside elements, template expansions inside
// them). The carried descriptions stay far below it; it keeps hostile input off the stack,
// also on hosts' threads with small stacks.
constexpr int kMaxNestingDepth = 128;
// Most objects (children and template holders) one outermost parse may create, template
// expansions included, and the most code units their full names and the attribute values it
// sets may add up to: templates that instantiate each other, and values that repeat their
// ancestors' values, can otherwise multiply objects and texts.
constexpr std::size_t kMaxObjectsPerLoad = 100000;
constexpr std::size_t kMaxTextUnitsPerLoad = std::size_t{32} << 20;

thread_local int t_depth = 0;
thread_local std::size_t t_objectsCreated = 0;
thread_local std::size_t t_textUnits = 0;

// Counts the nesting of node parses; the outermost one starts a fresh object budget.
class CNestingGuard
{
public:
    CNestingGuard()
    {
        if (t_depth++ == 0)
        {
            t_objectsCreated = 0;
            t_textUnits = 0;
        }
    }
    ~CNestingGuard() { --t_depth; }
    CNestingGuard(const CNestingGuard&) = delete;
    CNestingGuard& operator=(const CNestingGuard&) = delete;
};

// The read-past-the-end error of a memory resource, for checks the reader cannot make itself.
CErrorPtr readPastEnd(std::uint64_t position, std::uint64_t count, std::uint64_t size)
{
    return ZEL_ERROR("CMemoryReader::read", "zelstr_CMemoryReader_read_EOF",
                     "Premature end of memory resource while reading (pos %1, count %2, size %3).",
                     {std::to_string(position), std::to_string(count), std::to_string(size)});
}

// Decodes the string table at the start of a description: N, L, the offsets, the pool.
// length receives L, so that the root head stands at 8 + L.
CErrorPtr buildStringTable(const std::uint8_t* data, std::size_t size, CStringTable& table,
                           std::uint32_t& length)
{
    CMemoryReader reader(data, size);
    std::uint32_t count = 0;
    length = 0;
    KELV_FORWARD(reader.readUInt(count));
    KELV_FORWARD(reader.readUInt(length));
    const std::uint64_t tableEnd = 8 + std::uint64_t{length};
    const std::uint64_t readable = static_cast<std::uint64_t>(reader.size());
    if (tableEnd > readable)
        return readPastEnd(8, length, readable);
    const std::uint64_t offsetsBytes = 4 * std::uint64_t{count};
    if (offsetsBytes > length)
        return readPastEnd(8, offsetsBytes, tableEnd);

    std::vector<CText>& texts = table.texts();
    texts.clear();
    texts.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
    {
        std::uint32_t offset = 0;
        KELV_FORWARD(reader.readUInt(offset));
        // The pool lies behind the offsets; an offset must point into it.
        const std::uint64_t start = 8 + std::uint64_t{offset};
        if (offset < offsetsBytes || start >= tableEnd)
            return readPastEnd(start, 1, tableEnd);
        const auto* first = data + start;
        const auto* last = data + tableEnd;
        const auto* end = first;
        while (end != last && *end != 0)
            ++end;
        if (end == last)
            return readPastEnd(tableEnd, 1, tableEnd);
        texts.emplace_back(std::string(reinterpret_cast<const char*>(first),
                                       static_cast<std::size_t>(end - first)));
    }
    return nullptr;
}

// Parses nodes of one span of description bytes (a whole description or one template body).
class CNodeParser
{
public:
    CNodeParser(const std::uint8_t* data, std::size_t size, CStringTablePtr strings, bool borrowed)
        : m_data(data), m_reader(data, size), m_strings(std::move(strings)), m_borrowed(borrowed)
    {
    }

    CErrorPtr skip(std::size_t count) { return m_reader.consume(count); }
    CErrorPtr seek(std::int64_t position) { return m_reader.setPosition(position); }

    struct SFlags
    {
        bool lifecycle;
        bool skipAttributes;
        bool skipChildren;
    };

    // Parses one node into object.
    CErrorPtr parseNode(CObject& object, SFlags flags);

private:
    CErrorPtr readU8(std::uint8_t& value) { return m_reader.read(&value, 1); }
    CErrorPtr readU16(std::uint16_t& value)
    {
        std::uint8_t bytes[2] = {};
        KELV_FORWARD(m_reader.read(bytes, 2));
        value = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
        return nullptr;
    }
    CErrorPtr readU32(std::uint32_t& value) { return m_reader.readUInt(value); }
    // Reads a 16-bit string index and resolves it.
    CErrorPtr readText(const CText*& text);

    struct SBody
    {
        const CText* baseTag = nullptr;
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
    };
    // Reads a deferred body's fields after its kind byte and steps over its bytes.
    CErrorPtr readBody(SBody& body);
    std::unique_ptr<CDeferredBody> makeBody(const SBody& body) const;

    CErrorPtr parseChild(CObject& parent);
    CErrorPtr defineTemplate(CObject& parent, const CText& name);
    CErrorPtr countObject(const CObject& parent, const CText& name);
    static CErrorPtr checkTextBudget(const CObject& object);

    const std::uint8_t* m_data;
    CMemoryReader m_reader;
    CStringTablePtr m_strings;
    bool m_borrowed;
};

CErrorPtr CNodeParser::readText(const CText*& text)
{
    std::uint16_t index = 0;
    KELV_FORWARD(readU16(index));
    text = m_strings->at(index);
    // An index at or above N would read its offset past the end of the offset array.
    if (text == nullptr)
        return readPastEnd(8 + 4 * std::uint64_t{index}, 4,
                           8 + 4 * std::uint64_t{m_strings->size()});
    return nullptr;
}

CErrorPtr CNodeParser::readBody(SBody& body)
{
    std::uint32_t length = 0;
    KELV_FORWARD(readText(body.baseTag));
    KELV_FORWARD(readU32(length));
    body.data = m_data + m_reader.position();
    body.size = length;
    KELV_FORWARD(m_reader.consume(length));
    return nullptr;
}

std::unique_ptr<CDeferredBody> CNodeParser::makeBody(const SBody& body) const
{
    return m_borrowed ? CDeferredBody::borrowed(*body.baseTag, m_strings, body.data, body.size)
                      : CDeferredBody::owned(*body.baseTag, m_strings, body.data, body.size);
}

CErrorPtr CNodeParser::countObject(const CObject& parent, const CText& name)
{
    // The new object's full name: the parent's, a "." and the name (an ordinal suffix aside).
    t_textUnits += parent.fullName().size() + 1 + name.size();
    if (++t_objectsCreated > kMaxObjectsPerLoad)
        return ZEL_ERROR(parent.fullName().toUtf8(),
                         "zelstr_CDescriptionLoader_load_TooManyObjects",
                         "Object description creates more than %1 objects.",
                         {std::to_string(kMaxObjectsPerLoad)});
    return checkTextBudget(parent);
}

CErrorPtr CNodeParser::checkTextBudget(const CObject& object)
{
    if (t_textUnits > kMaxTextUnitsPerLoad)
        return ZEL_ERROR(object.fullName().toUtf8(), "zelstr_CDescriptionLoader_load_TooMuchText",
                         "Object description creates more than %1 characters of names and "
                         "values.",
                         {std::to_string(kMaxTextUnitsPerLoad)});
    return nullptr;
}

CErrorPtr CNodeParser::parseNode(CObject& object, SFlags flags)
{
    CNestingGuard nesting;
    const std::string fullName = object.fullName().toUtf8();
    if (t_depth > kMaxNestingDepth)
        return ZEL_ERROR(fullName, "zelstr_CDescriptionLoader_parseNode_TooDeep",
                         "Object description nests deeper than %1 levels.",
                         {std::to_string(kMaxNestingDepth)});

    std::uint8_t kind = 0;
    ZEL_TRY(readU8(kind), fullName);
    if (kind != 0)
    {
        // A template body is a complete element; the parts of one cannot be deferred again.
        if (flags.skipAttributes || flags.skipChildren)
            return ZEL_ERROR(fullName, "zelstr_CDescriptionLoader_parseNode_NestedBody",
                             "A run-time template body may not itself be deferred.");
        SBody body;
        ZEL_TRY(readBody(body), fullName);
        object.setDeferredBody(makeBody(body));
        if (flags.lifecycle)
        {
            ZEL_TRY(object.initTemplateChilds(), fullName);
            ZEL_TRY(object.initChilds(), fullName);
            object.setState(kStateLoaded);
        }
        return nullptr;
    }

    std::uint16_t attributeCount = 0;
    ZEL_TRY(readU16(attributeCount), fullName);
    if (flags.skipAttributes)
        ZEL_TRY(m_reader.consume(4 * std::size_t{attributeCount}), fullName);
    else
    {
        const CText kFalse("false");
        for (std::uint16_t i = 0; i < attributeCount; ++i)
        {
            const CText* name = nullptr;
            const CText* value = nullptr;
            ZEL_TRY(readText(name), fullName);
            ZEL_TRY(readText(value), fullName);
            // An absent attribute already reads as empty or false.
            if ((value->empty() || *value == kFalse) && !object.hasAttribute(*name))
                continue;
            ZEL_TRY(object.setAttribute(*name, *value), fullName);
            if (const CAttrValue* stored = object.findAttribute(*name))
                t_textUnits += name->size() + stored->text().size();
            ZEL_TRY(checkTextBudget(object), fullName);
        }
    }

    if (flags.lifecycle)
    {
        ZEL_TRY(object.init(), fullName);
        ZEL_TRY(object.initTemplateChilds(), fullName);
    }
    if (!flags.skipChildren)
    {
        std::uint16_t childCount = 0;
        ZEL_TRY(readU16(childCount), fullName);
        for (std::uint16_t i = 0; i < childCount; ++i)
            ZEL_TRY(parseChild(object), fullName);
    }
    if (flags.lifecycle)
    {
        ZEL_TRY(object.initChilds(), fullName);
        object.setState(kStateLoaded);
    }
    return nullptr;
}

CErrorPtr CNodeParser::parseChild(CObject& parent)
{
    const CText* tag = nullptr;
    const CText* name = nullptr;
    KELV_FORWARD(readText(tag));
    KELV_FORWARD(readText(name));
    if (*tag == CText("template"))
        return defineTemplate(parent, *name);

    KELV_FORWARD(countObject(parent, *name));
    CObject* child = nullptr;
    if (*tag == CText("content"))
        KELV_FORWARD(parent.createPlainChild(*tag, *name, child));
    else
        KELV_FORWARD(parent.createChild(*tag, *name, true, child));
    if (CErrorPtr err = parseNode(*child, SFlags{true, false, false}))
    {
        // The failed child goes away with its subtree; the siblings before it stay.
        child->destroy();
        return err;
    }
    return nullptr;
}

CErrorPtr CNodeParser::defineTemplate(CObject& parent, const CText& name)
{
    // Check the whole body before defining: a holder cannot be taken out of the map again.
    std::uint8_t kind = 0;
    KELV_FORWARD(readU8(kind));
    if (kind == 0)
        return ZEL_ERROR("CNodeParser", "zelstr_CDescriptionLoader_parseChild_TemplateNoBody",
                         "Run-time template '%1' has no deferred body.", {name.toUtf8()});
    SBody body;
    KELV_FORWARD(readBody(body));
    KELV_FORWARD(countObject(parent, name));
    CObject* holder = nullptr;
    KELV_FORWARD(parent.defineTemplate(name, holder));
    holder->setDeferredBody(makeBody(body));
    const std::string holderName = holder->fullName().toUtf8();
    ZEL_TRY(holder->initTemplateChilds(), holderName);
    ZEL_TRY(holder->initChilds(), holderName);
    holder->setState(kStateLoaded);
    return nullptr;
}

// Parses a whole description held in memory into target.
CErrorPtr parseDescription(CObject& target, const std::uint8_t* data, std::size_t size,
                           std::shared_ptr<CStringTable> table, bool borrowed,
                           bool runLifecycleOnRoot)
{
    std::uint32_t length = 0;
    const std::string fullName = target.fullName().toUtf8();
    ZEL_TRY(buildStringTable(data, size, *table, length), fullName);
    CNodeParser parser(data, size, std::move(table), borrowed);
    // The table fits the data (checked above), so the root head's position exists.
    ZEL_TRY(parser.seek(8 + std::int64_t{length}), fullName);
    ZEL_TRY(parser.skip(4), fullName);
    KELV_FORWARD(parser.parseNode(target, CNodeParser::SFlags{runLifecycleOnRoot, false, false}));
    return nullptr;
}

class CDescriptionBodyParser final : public CDeferredBodyParser
{
public:
    CErrorPtr parseDeferredBody(CObject& target, const CDeferredBody& body, EBodyPart part) override
    {
        const std::string fullName = target.fullName().toUtf8();
        if (!body.strings())
            return ZEL_ERROR(fullName, "zelstr_CDescriptionLoader_parseDeferredBody_NoStrings",
                             "Run-time template body of '%1' has no string table.",
                             {body.baseTag().toUtf8()});
        CNodeParser parser(body.data(), body.size(), body.strings(), !body.isOwned());
        ZEL_TRY(parser.skip(4), fullName);
        const bool attributesOnly = part == EBodyPart::kAttributesOnly;
        return parser.parseNode(target,
                                CNodeParser::SFlags{false, !attributesOnly, attributesOnly});
    }
};

void ensureParserInstalled()
{
    if (deferredBodyParser() == nullptr)
        installDescriptionParser();
}
} // namespace

CDeferredBodyParser& descriptionParser()
{
    static CDescriptionBodyParser parser;
    return parser;
}

CDeferredBodyParser* installDescriptionParser()
{
    return setDeferredBodyParser(&descriptionParser());
}

CErrorPtr loadDescriptionFromMemory(CObject& target, const std::uint8_t* data, std::size_t size,
                                    bool runLifecycleOnRoot, EDescriptionBytes bytes)
{
    ensureParserInstalled();
    auto table = std::make_shared<CStringTable>();
    if (bytes == EDescriptionBytes::kCopied)
    {
        table->buffer().assign(data, data + size);
        data = table->buffer().data();
    }
    return parseDescription(target, data, size, std::move(table),
                            bytes == EDescriptionBytes::kBorrowed, runLifecycleOnRoot);
}

CErrorPtr loadDescriptionFromStream(CObject& target, CPosInputStream& stream,
                                    bool runLifecycleOnRoot)
{
    ensureParserInstalled();
    const std::string fullName = target.fullName().toUtf8();
    std::int64_t position = 0;
    std::int64_t size = 0;
    ZEL_TRY(stream.getPosition(position), fullName);
    ZEL_TRY(stream.getSize(size), fullName);
    const std::int64_t remaining = size > position ? size - position : 0;
    if (remaining > std::numeric_limits<std::int32_t>::max())
        return ZEL_ERROR(fullName, "zelstr_CDescriptionLoader_load_TooLarge",
                         "Object description is too large (%1 bytes).",
                         {std::to_string(remaining)});
    // The string table owns the bytes; template bodies get copies of their parts.
    auto table = std::make_shared<CStringTable>();
    table->buffer().resize(static_cast<std::size_t>(remaining));
    ZEL_TRY(stream.read(table->buffer().data(), table->buffer().size()), fullName);
    const std::uint8_t* data = table->buffer().data();
    const std::size_t bytes = table->buffer().size();
    return parseDescription(target, data, bytes, std::move(table), false, runLifecycleOnRoot);
}

CErrorPtr loadDescription(CObject& target, const CText& resourceName, bool runLifecycleOnRoot)
{
    const std::string fullName = target.fullName().toUtf8();
    std::unique_ptr<CResourceReader> reader;
    ZEL_TRY(openResource(resourceName, reader), fullName);
    if (reader->isBuiltIn())
    {
        // In place: template bodies point into the resource, which lives as long as the code.
        return loadDescriptionFromMemory(target, reader->payloadAddress(), reader->payloadSize(),
                                         runLifecycleOnRoot, EDescriptionBytes::kBorrowed);
    }
    return loadDescriptionFromStream(target, *reader, runLifecycleOnRoot);
}

} // namespace zel

#undef KELV_FORWARD
