#pragma once
// The data items of a string or raw audio parameter. The numeric value of such a parameter's
// element is the id of an item in the parameter's CAudioParamData table: a
// CAudioParamDataItemString (type code 1) holds a text, a CAudioParamDataItemRaw (type code 2) a
// byte block. Items clone, save and load themselves.
//
// The table keeps a running id counter. Copying a value that names an item into another table
// (a preset, an undo snapshot, a saved stream) clones the item into the destination under that
// table's next id; a value that names no item copies as no item (id 0). Id 0 never names an
// item. The table is not locked: its owner (the parameter) guards it.

#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace zel
{

class CInputStream;
class COutputStream;

class CAudioParamDataItem
{
public:
    // Stored type codes; changing them breaks saved data.
    static constexpr std::int32_t kTypeString = 1;
    static constexpr std::int32_t kTypeRaw = 2;

    virtual ~CAudioParamDataItem() = default;
    virtual std::unique_ptr<CAudioParamDataItem> clone() const = 0;
    virtual CErrorPtr save(COutputStream& out) const = 0;
    virtual CErrorPtr load(CInputStream& in) = 0;
    virtual std::int32_t typeCode() const = 0;

    // A new, empty item of the given type code; null for an unknown code.
    static std::unique_ptr<CAudioParamDataItem> createOfType(std::int32_t typeCode);
};

class CAudioParamDataItemString : public CAudioParamDataItem
{
public:
    CAudioParamDataItemString() = default;
    explicit CAudioParamDataItemString(CText text) : m_text(std::move(text)) {}

    std::unique_ptr<CAudioParamDataItem> clone() const override;
    // Stream string encoding.
    CErrorPtr save(COutputStream& out) const override;
    CErrorPtr load(CInputStream& in) override;
    std::int32_t typeCode() const override { return kTypeString; }

    const CText& text() const { return m_text; }

private:
    CText m_text;
};

class CAudioParamDataItemRaw : public CAudioParamDataItem
{
public:
    CAudioParamDataItemRaw() = default;
    explicit CAudioParamDataItemRaw(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    std::unique_ptr<CAudioParamDataItem> clone() const override;
    // An int32 length followed by the bytes.
    CErrorPtr save(COutputStream& out) const override;
    CErrorPtr load(CInputStream& in) override;
    std::int32_t typeCode() const override { return kTypeRaw; }

    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

class CAudioParamData
{
public:
    CAudioParamData() = default;
    CAudioParamData(const CAudioParamData&) = delete;
    CAudioParamData& operator=(const CAudioParamData&) = delete;

    // Stores item under the next id and returns that id.
    std::int32_t add(std::unique_ptr<CAudioParamDataItem> item);
    // The item named by id, or null.
    const CAudioParamDataItem* find(std::int32_t id) const;
    // The item named by a stored element value (rounded to an id), or null.
    const CAudioParamDataItem* findByValue(double value) const;
    bool remove(std::int32_t id);
    void clear();
    std::size_t size() const { return m_items.size(); }
    std::int32_t nextId() const { return m_nextId; }

    // Clones source's item named by id into this table under this table's next id; returns
    // the new id, or 0 when id names no item of source.
    std::int32_t copyFrom(const CAudioParamData& source, std::int32_t id);
    // The same for a stored element value.
    double copyValueFrom(const CAudioParamData& source, double value);

    const std::map<std::int32_t, std::unique_ptr<CAudioParamDataItem>>& items() const
    {
        return m_items;
    }

    // Converts an element value to an item id (0 when it is not a valid id).
    static std::int32_t idOfValue(double value);

private:
    std::map<std::int32_t, std::unique_ptr<CAudioParamDataItem>> m_items;
    std::int32_t m_nextId = 1;
};

} // namespace zel
