#pragma once
// A reader of compiled object descriptions for the tests, written apart from the compiler so
// that it can check the compiler's output. It decodes the string table and the node tree,
// checks every index and length, and records the order in which string indexes appear.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvtest
{

struct SDescNode
{
    std::string tag;  // tag of the entry in its parent ("" for the root)
    std::string name; // name of the entry in its parent
    bool deferred = false;
    std::string base; // base tag of a deferred body
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<SDescNode> children;

    const SDescNode* child(const std::string& childName) const
    {
        for (const SDescNode& c : children)
            if (c.name == childName)
                return &c;
        return nullptr;
    }
    std::optional<std::string> attribute(const std::string& key) const
    {
        for (const auto& [k, v] : attributes)
            if (k == key)
                return v;
        return std::nullopt;
    }
};

struct SDecodedDesc
{
    std::vector<std::string> strings;        // by index
    std::vector<std::uint32_t> offsets;      // by index
    std::vector<std::uint16_t> indexesInUse; // every string index in the order it was read
    std::uint32_t rootHead = 0;
    SDescNode root;
};

class CDescReader
{
public:
    explicit CDescReader(const std::vector<std::uint8_t>& bytes)
        : m_bytes(bytes), m_end(bytes.size())
    {
    }

    // Decodes the whole description; false when it is malformed or has trailing bytes.
    bool decode(SDecodedDesc& out)
    {
        m_out = &out;
        std::uint32_t count = 0, length = 0;
        if (!u32(count) || !u32(length) || length < 4ull * count || m_bytes.size() < 8ull + length)
            return false;
        out.offsets.resize(count);
        for (std::uint32_t& offset : out.offsets)
            if (!u32(offset))
                return false;
        for (const std::uint32_t offset : out.offsets)
        {
            std::string text;
            std::size_t at = 8 + std::size_t{offset};
            if (offset < 4ull * count || offset >= length)
                return false;
            while (at < 8 + std::size_t{length} && m_bytes[at] != 0)
                text += static_cast<char>(m_bytes[at++]);
            if (at == 8 + std::size_t{length})
                return false;
            out.strings.push_back(text);
        }
        m_pos = 8 + std::size_t{length};
        if (!u32(out.rootHead) || out.rootHead >= count)
            return false;
        return node(out.root, m_bytes.size(), 0) && m_pos == m_bytes.size();
    }

private:
    bool u8(std::uint8_t& v)
    {
        if (m_pos + 1 > m_end)
            return false;
        v = m_bytes[m_pos++];
        return true;
    }
    bool u16(std::uint16_t& v)
    {
        if (m_pos + 2 > m_end)
            return false;
        v = static_cast<std::uint16_t>(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }
    bool u32(std::uint32_t& v)
    {
        if (m_pos + 4 > m_end)
            return false;
        v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | m_bytes[m_pos + static_cast<std::size_t>(i)];
        m_pos += 4;
        return true;
    }
    bool str(std::string& s)
    {
        std::uint16_t index = 0;
        if (!u16(index) || index >= m_out->strings.size())
            return false;
        m_out->indexesInUse.push_back(index);
        s = m_out->strings[index];
        return true;
    }
    bool node(SDescNode& n, std::size_t end, int depth)
    {
        if (depth > 300)
            return false;
        const std::size_t savedEnd = m_end;
        m_end = end;
        std::uint8_t kind = 0;
        bool ok = u8(kind);
        if (ok && kind != 0)
        {
            std::uint32_t bodyLength = 0, head = 0;
            ok = str(n.base) && u32(bodyLength) && m_pos + bodyLength <= m_end;
            const std::size_t bodyEnd = m_pos + bodyLength;
            // The body's head repeats the base tag index; the body's node fills n.
            ok = ok && u32(head) && head < m_out->strings.size() &&
                 m_out->strings[head] == n.base && node(n, bodyEnd, depth + 1) && m_pos == bodyEnd;
            n.deferred = true;
        }
        else if (ok)
        {
            std::uint16_t attributeCount = 0, childCount = 0;
            ok = u16(attributeCount);
            for (std::uint16_t i = 0; ok && i < attributeCount; ++i)
            {
                std::pair<std::string, std::string> attribute;
                ok = str(attribute.first) && str(attribute.second);
                n.attributes.push_back(attribute);
            }
            ok = ok && u16(childCount);
            for (std::uint16_t i = 0; ok && i < childCount; ++i)
            {
                SDescNode child;
                ok = str(child.tag) && str(child.name) && node(child, m_end, depth + 1);
                n.children.push_back(std::move(child));
            }
        }
        m_end = savedEnd;
        return ok;
    }

    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_end;
    std::size_t m_pos = 0;
    SDecodedDesc* m_out = nullptr;
};

} // namespace kelvtest
