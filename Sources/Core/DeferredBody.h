#pragma once
// CDeferredBody: the unparsed body of a run-time template holder: the registered tag that
// instances are created as, the string table the body's indexes refer to, and the body bytes,
// either borrowed from resource memory (built-in descriptions, never copied) or an owned copy.
//
// CStringTable is the shared, reference-counted table of texts that a loaded description
// decodes once; every deferred body of that description keeps it alive.
//
// CDeferredBodyParser is the hook through which the object model expands a template: `init`
// asks it to apply a body's attributes and `initTemplateChilds` asks it to create the body's
// children. The description loader installs its parser; the object model itself does not know
// the body format. This file does not parse anything.

#include "Core/Error.h"
#include "Core/Text.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zel
{

class CObject;

class CStringTable
{
public:
    CStringTable() = default;
    explicit CStringTable(std::vector<CText> texts) : m_texts(std::move(texts)) {}

    std::size_t size() const { return m_texts.size(); }
    // Null when index is out of range.
    const CText* at(std::size_t index) const
    {
        return index < m_texts.size() ? &m_texts[index] : nullptr;
    }
    std::vector<CText>& texts() { return m_texts; }
    const std::vector<CText>& texts() const { return m_texts; }
    // The loaded payload when it was read from a stream rather than parsed in place; owned
    // bodies may point into it.
    std::vector<std::uint8_t>& buffer() { return m_buffer; }
    const std::vector<std::uint8_t>& buffer() const { return m_buffer; }

private:
    std::vector<CText> m_texts;
    std::vector<std::uint8_t> m_buffer;
};

using CStringTablePtr = std::shared_ptr<const CStringTable>;

class CDeferredBody
{
public:
    // A body that points into memory that outlives it (a built-in resource).
    static std::unique_ptr<CDeferredBody> borrowed(CText baseTag, CStringTablePtr strings,
                                                   const std::uint8_t* data, std::size_t size);
    // A body whose bytes are copied and owned.
    static std::unique_ptr<CDeferredBody> owned(CText baseTag, CStringTablePtr strings,
                                                const std::uint8_t* data, std::size_t size);

    CDeferredBody(const CDeferredBody&) = delete;
    CDeferredBody& operator=(const CDeferredBody&) = delete;

    const CText& baseTag() const { return m_baseTag; }
    const CStringTablePtr& strings() const { return m_strings; }
    bool isOwned() const { return m_owned; }
    const std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    CDeferredBody() = default;

    CText m_baseTag;
    CStringTablePtr m_strings;
    bool m_owned = false;
    std::vector<std::uint8_t> m_ownedBytes;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

// Which half of a body a parse applies.
enum class EBodyPart
{
    kAttributesOnly, // skip children: apply the body's own attributes to the target
    kChildrenOnly,   // skip attributes: create and initialise the body's children
};

class CDeferredBodyParser
{
public:
    virtual ~CDeferredBodyParser() = default;
    virtual CErrorPtr parseDeferredBody(CObject& target, const CDeferredBody& body,
                                        EBodyPart part) = 0;
};

// The process-wide parser; null until the loader installs one. Returns the previous parser.
CDeferredBodyParser* setDeferredBodyParser(CDeferredBodyParser* parser);
CDeferredBodyParser* deferredBodyParser();

} // namespace zel
