#pragma once
// A reader of compiled object descriptions for the tests, written apart from the compiler so
// that it can check the compiler's output. It decodes the string table and the node tree,
// checks every index and length, and records the order in which string indexes appear.
// Beside it, a little-endian byte builder for descriptions assembled by hand.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace kelvtest
{

struct CDescBytes
{
    std::vector<std::uint8_t> b;
    CDescBytes& u8(unsigned v)
    {
        b.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    CDescBytes& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8); }
    CDescBytes& u32(unsigned v) { return u16(v & 0xFFFF).u16(v >> 16); }
    CDescBytes& u16s(std::initializer_list<unsigned> values)
    {
        for (const unsigned v : values)
            u16(v);
        return *this;
    }
    // N, L, the offsets and the pool of a string table that keeps its strings in index order.
    CDescBytes& table(const std::vector<std::string>& strings)
    {
        const auto n = static_cast<unsigned>(strings.size());
        CDescBytes offsets;
        std::vector<std::uint8_t> pool;
        for (const std::string& s : strings)
        {
            offsets.u32(4 * n + static_cast<unsigned>(pool.size()));
            pool.insert(pool.end(), s.c_str(), s.c_str() + s.size() + 1);
        }
        u32(n).u32(4 * n + static_cast<unsigned>(pool.size()));
        b.insert(b.end(), offsets.b.begin(), offsets.b.end());
        b.insert(b.end(), pool.begin(), pool.end());
        return *this;
    }
};

struct SDescNode
{
    std::string tag;  // tag of the entry in its parent ("" for the root)
    std::string name; // name of the entry in its parent
    bool deferred = false;
    std::string base; // base tag of a deferred body
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<SDescNode> children;
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
        if (!num(count, 4) || !num(length, 4) || length < 4ull * count ||
            m_bytes.size() < 8ull + length)
            return false;
        out.offsets.resize(count);
        for (std::uint32_t& offset : out.offsets)
            if (!num(offset, 4) || offset < 4ull * count || offset >= length)
                return false;
        for (const std::uint32_t offset : out.offsets)
        {
            std::string text;
            std::size_t at = 8 + std::size_t{offset};
            while (at < 8 + std::size_t{length} && m_bytes[at] != 0)
                text += static_cast<char>(m_bytes[at++]);
            if (at == 8 + std::size_t{length})
                return false; // no terminator inside the table
            out.strings.push_back(text);
        }
        m_pos = 8 + std::size_t{length};
        return num(out.rootHead, 4) && out.rootHead < count && node(out.root, m_bytes.size(), 0) &&
               m_pos == m_bytes.size();
    }

private:
    // An unsigned little-endian integer of `size` bytes.
    template <typename T>
    bool num(T& v, std::size_t size)
    {
        if (m_pos + size > m_end)
            return false;
        std::uint32_t value = 0;
        for (std::size_t i = size; i-- > 0;)
            value = (value << 8) | m_bytes[m_pos + i];
        v = static_cast<T>(value);
        m_pos += size;
        return true;
    }
    bool str(std::string& s)
    {
        std::uint16_t index = 0;
        if (!num(index, 2) || index >= m_out->strings.size())
            return false;
        m_out->indexesInUse.push_back(index);
        s = m_out->strings[index];
        return true;
    }
    bool node(SDescNode& n, std::size_t end, int depth)
    {
        const std::size_t savedEnd = m_end;
        m_end = end;
        std::uint8_t kind = 0;
        bool ok = depth <= 300 && num(kind, 1);
        if (ok && kind != 0)
        {
            // A deferred body: its head repeats the base tag index, its node fills n.
            std::uint32_t bodyLength = 0, head = 0;
            ok = str(n.base) && num(bodyLength, 4) && m_pos + bodyLength <= m_end;
            const std::size_t bodyEnd = m_pos + bodyLength;
            ok = ok && num(head, 4) && head < m_out->strings.size() &&
                 m_out->strings[head] == n.base && node(n, bodyEnd, depth + 1) && m_pos == bodyEnd;
            n.deferred = true;
        }
        else if (ok)
        {
            std::uint16_t attributeCount = 0, childCount = 0;
            ok = num(attributeCount, 2);
            for (std::uint16_t i = 0; ok && i < attributeCount; ++i)
            {
                n.attributes.emplace_back();
                ok = str(n.attributes.back().first) && str(n.attributes.back().second);
            }
            ok = ok && num(childCount, 2);
            for (std::uint16_t i = 0; ok && i < childCount; ++i)
            {
                n.children.emplace_back();
                SDescNode& child = n.children.back();
                ok = str(child.tag) && str(child.name) && node(child, m_end, depth + 1);
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
