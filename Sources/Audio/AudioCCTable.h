#pragma once
// CAudioCCTable ("audio:cctable"): the instance's MIDI controller map, kept in the local
// application data of the plug-in type as the data set "ccmap" and followed while the instance
// lives: every change of that data set (another instance, a settings import) reloads it. The
// map assigns MIDI controller numbers to parameter paths. The MIDI hook of this product does
// nothing, so the map has no effect on processing; it is kept so that the stored map survives
// and is shared by all instances.
//
// Stored layout (one compressed block "accm" in the data set; changing it breaks stored data):
//   int32 format version (1), int32 entry count N (0..128),
//   N x (int32 controller 0..127, text parameter path)
// with the stream encodings of InputStream.h; controllers are unique and ascending. A block
// that does not decode leaves the map as it was (the error goes to the diagnostic log when
// it comes from a change; init returns none for it either: a damaged map is not fatal).
//
// This class is not the MIDI hook and does not apply controller values to parameters.

#include "Core/ApplicationData.h"
#include "Core/BlockId.h"
#include "Core/Object.h"

#include <cstdint>
#include <map>
#include <vector>

namespace zel
{

class CAudioCCTable;

class CAudioCCTableBridge : public CApplicationDataListenerBridge<CAudioCCTable>
{
public:
    using CApplicationDataListenerBridge<CAudioCCTable>::CApplicationDataListenerBridge;
};

class CAudioCCTable : public CObject
{
public:
    static constexpr const char* kDataSet = "ccmap";
    static constexpr std::uint32_t kBlockId = makeBlockId("accm");
    static constexpr std::int32_t kVersion = 1;
    static constexpr std::int32_t kControllerCount = 128;

    using CMap = std::map<std::int32_t, CText>;

    CAudioCCTable();
    ~CAudioCCTable() override;

    static void registerClass(CClassInfo& info);
    // Connects to the local data (when there is one) and loads the map.
    CErrorPtr init() override;
    void release() override;

    // The current map (controller -> parameter path).
    CMap map() const;
    // Stores a new map in the application data (which announces it to every instance).
    CErrorPtr store(const CMap& map);
    // Reads the stored map again.
    CErrorPtr reload();
    bool isLinked() const { return m_bridge.isAttached(); }

    static std::vector<std::uint8_t> encode(const CMap& map);
    // All of data must be consumed; on failure map is unchanged.
    static CErrorPtr decode(const std::uint8_t* data, std::size_t size, CMap& map);

    // "update" from the application data.
    CErrorPtr onUpdate(CObject& eventParams);

private:
    CApplicationData* data() const;

    CAudioCCTableBridge m_bridge;
    CMap m_map;
};

} // namespace zel
