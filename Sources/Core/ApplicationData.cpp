#include "Core/ApplicationData.h"

#include "Core/FileStreams.h"
#include "Core/Log.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/Object.h"
#include "Core/ResourceStore.h"
#include "Core/System.h"
#include "Platform/Folders.h"

#include <atomic>
#include <string>
#include <vector>

namespace zel
{

struct CApplicationData::CDataSet
{
    CText name;
    // Path relative to the data folder, and the built-in default's resource name.
    CText relativeFile;
    CText resource;
    bool isSettings = false;
    bool loaded = false;
    bool modified = false;
    // Settings: the values. Others: the block (hasBlock false while there is none).
    std::map<CText, CText> values;
    std::uint32_t blockId = 0;
    bool hasBlock = false;
    CByteBuffer block;
};

namespace
{

constexpr const char* kClassName = "CApplicationData";

std::string blockIdText(std::uint32_t id)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8)
        text += static_cast<char>((id >> shift) & 0xFFu);
    return text;
}

CText parentFolder(const CText& path)
{
    const std::size_t slash = path.rfind(u'/');
    return slash == CText::npos ? CText() : path.substr(0, slash);
}

} // namespace

namespace appdata
{

CText escapeFileName(const CText& name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name.toUtf8())
    {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == ' ' || byte == '-' ||
                           byte == '_' || byte == '.';
        if (plain)
            out += c;
        else
        {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return CText::fromUtf8(out);
}

CText normalisePath(const CText& path)
{
    const std::string text = path.toUtf8();
    const bool absolute = !text.empty() && text[0] == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size())
    {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string part = text.substr(start, end - start);
        if (part == "..")
        {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        }
        else if (!part.empty() && part != ".")
            parts.push_back(part);
        start = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i)
    {
        if (i != 0)
            out += '/';
        out += parts[i];
    }
    return CText::fromUtf8(out);
}

} // namespace appdata

CApplicationData::CApplicationData(CText prefix)
    : m_makerFolder(kMakerFolder), m_familyFolder(kFamilyFolder), m_prefix(std::move(prefix)),
      m_lock(CCriticalSection::kDefaultSpinCount)
{
}

CApplicationData::~CApplicationData()
{
    // Bridges first, without the lock: a bridge that is disconnecting holds its own lock and
    // waits for ours.
    detachAllBridges();
    CCriticalSectionLock lock(m_lock);
    m_listeners.clear();
    if (CErrorPtr err = save())
        diagLog(err->details());
}

void CApplicationData::resolveFolders()
{
    if (m_foldersResolved)
        return;
    m_foldersResolved = true;
    if (platform::commonAppDataFolder(m_commonFolder) != 0)
        m_commonFolder = CText();
    CText user;
    if (platform::userAppDataFolder(user) != 0 || user.empty())
    {
        diagLog("Application data folder not found; the data is kept in memory only.");
        return;
    }
    m_userFolder = user;
    CText folder = user;
    folder += u'/';
    folder += m_makerFolder;
    folder += u'/';
    folder += m_familyFolder;
    folder += u'/';
    folder += kDataFolder;
    m_dataFolder = folder;
}

CText CApplicationData::dataFolder()
{
    CCriticalSectionLock lock(m_lock);
    resolveFolders();
    return m_dataFolder;
}

CApplicationData::CDataSet& CApplicationData::dataSetOf(const CText& name)
{
    auto it = m_dataSets.find(name);
    if (it != m_dataSets.end())
        return *it->second;
    auto set = std::make_unique<CDataSet>();
    set->name = name;
    set->isSettings = name == CText(kSettingsDataSet);
    if (const std::size_t bar = name.find(u'|'); bar != CText::npos)
    {
        set->relativeFile = name.substr(0, bar);
        set->resource = name.substr(bar + 1);
    }
    else
    {
        set->relativeFile = m_prefix + appdata::escapeFileName(name);
        set->resource = m_prefix + name;
    }
    if (set->isSettings)
        set->blockId = kSettingsBlockId;
    return *m_dataSets.emplace(name, std::move(set)).first->second;
}

CText CApplicationData::dataSetFile(const CText& dataSet)
{
    CCriticalSectionLock lock(m_lock);
    resolveFolders();
    if (m_dataFolder.empty())
        return CText();
    CText path = m_dataFolder;
    path += u'/';
    path += dataSetOf(dataSet).relativeFile;
    return appdata::normalisePath(path);
}

CErrorPtr CApplicationData::decodeSettings(const CByteBuffer& plain, std::map<CText, CText>& values)
{
    CMemoryReader reader(plain.data(), plain.size());
    std::int32_t version = 0;
    std::int32_t count = 0;
    ZEL_TRY(reader.readInt(version), kClassName);
    if (version != kSettingsVersion)
        return ZEL_ERROR(kClassName, "zelstr_CApplicationData_load_Version",
                         "Unsupported application data version %1.", {std::to_string(version)});
    ZEL_TRY(reader.readInt(count), kClassName);
    if (count < 0)
        return ZEL_ERROR(kClassName, "zelstr_CApplicationData_load_Count",
                         "Invalid application data value count %1.", {std::to_string(count)});
    for (std::int32_t i = 0; i < count; ++i)
    {
        CText name;
        CText value;
        ZEL_TRY(reader.readString(name), kClassName);
        ZEL_TRY(reader.readString(value), kClassName);
        values[name] = value;
    }
    return nullptr;
}

// Reads the data set's file, or its default resource when there is no file, into staging.
CErrorPtr CApplicationData::loadInto(const CDataSet& set, CDataSet& staging)
{
    staging.values.clear();
    staging.hasBlock = false;
    staging.block.clear();
    if (set.blockId == 0)
        return nullptr; // a block data set not yet asked for by type: nothing to read
    CByteBuffer plain;
    bool found = false;
    resolveFolders();
    if (!m_dataFolder.empty())
    {
        CText path = m_dataFolder;
        path += u'/';
        path += set.relativeFile;
        path = appdata::normalisePath(path);
        if (platform::fileExists(path))
        {
            CFileReader reader;
            ZEL_TRY(reader.open(path, CFile::kShareRead), kClassName);
            ZEL_TRY(reader.readCompressedData(set.blockId, plain), kClassName);
            found = true;
        }
    }
    SResourcePayload resource;
    if (!found && findBuiltInResource(set.resource, resource))
    {
        CMemoryReader reader(resource.data, resource.size);
        ZEL_TRY(reader.readCompressedData(set.blockId, plain), kClassName);
        found = true;
    }
    if (!found)
        return nullptr;
    if (set.isSettings)
        ZEL_TRY(decodeSettings(plain, staging.values), kClassName);
    else
    {
        staging.block = std::move(plain);
        staging.hasBlock = true;
    }
    return nullptr;
}

CErrorPtr CApplicationData::ensureLoaded(CDataSet& set)
{
    if (set.loaded)
        return nullptr;
    // One attempt only: after a failure the data set lives on from memory.
    set.loaded = true;
    CDataSet staging;
    ZEL_TRY(loadInto(set, staging), kClassName);
    set.values = std::move(staging.values);
    set.hasBlock = staging.hasBlock;
    set.block = std::move(staging.block);
    return nullptr;
}

CErrorPtr CApplicationData::reload(const CText& dataSet)
{
    CCriticalSectionLock lock(m_lock);
    CDataSet& set = dataSetOf(dataSet);
    set.loaded = true;
    CDataSet staging;
    ZEL_TRY(loadInto(set, staging), kClassName);
    set.values = std::move(staging.values);
    set.hasBlock = staging.hasBlock;
    set.block = std::move(staging.block);
    set.modified = false;
    return nullptr;
}

CErrorPtr CApplicationData::saveDataSet(CDataSet& set)
{
    if (!set.modified)
        return nullptr;
    resolveFolders();
    if (m_dataFolder.empty())
    {
        set.modified = false; // memory only
        return nullptr;
    }
    CMemoryWriteBuffer plain;
    if (set.isSettings)
    {
        ZEL_TRY(plain.writeInt(kSettingsVersion), kClassName);
        ZEL_TRY(plain.writeInt(static_cast<std::int32_t>(set.values.size())), kClassName);
        for (const auto& [name, value] : set.values)
        {
            ZEL_TRY(plain.writeString(name), kClassName);
            ZEL_TRY(plain.writeString(value), kClassName);
        }
    }
    else
        ZEL_TRY(plain.write(set.block.data(), set.block.size()), kClassName);
    const std::vector<std::uint8_t> bytes = plain.toVector();
    CMemoryWriteBuffer block;
    ZEL_TRY(block.writeCompressedData(set.blockId, bytes.data(), bytes.size()), kClassName);

    CText path = m_dataFolder;
    path += u'/';
    path += set.relativeFile;
    path = appdata::normalisePath(path);
    ZEL_TRY(CSystem::makeDirectories(parentFolder(path)), kClassName);
    CFileWriter writer;
    ZEL_TRY(writer.open(path, 0, false), kClassName);
    ZEL_TRY(block.writeTo(writer), kClassName);
    ZEL_TRY(writer.close(), kClassName);
    set.modified = false;
    return nullptr;
}

CErrorPtr CApplicationData::save()
{
    CCriticalSectionLock lock(m_lock);
    CErrorPtr first;
    for (auto& [name, set] : m_dataSets)
        if (CErrorPtr err = saveDataSet(*set); err && !first)
            first = std::move(err);
    return first;
}

bool CApplicationData::isModified()
{
    CCriticalSectionLock lock(m_lock);
    for (const auto& [name, set] : m_dataSets)
        if (set->modified)
            return true;
    return false;
}

CErrorPtr CApplicationData::readValue(const CText& name, CText& value, const CText& defaultValue,
                                      bool* found)
{
    CCriticalSectionLock lock(m_lock);
    CDataSet& set = dataSetOf(kSettingsDataSet);
    CErrorPtr loadError = ensureLoaded(set);
    const auto it = set.values.find(name);
    const bool present = it != set.values.end();
    value = present ? it->second : defaultValue;
    if (found != nullptr)
        *found = present;
    return loadError ? ZEL_PASS(std::move(loadError), kClassName) : nullptr;
}

CErrorPtr CApplicationData::writeValue(const CText& name, const CText& value, const CBridge* origin)
{
    CCriticalSectionLock lock(m_lock);
    CDataSet& set = dataSetOf(kSettingsDataSet);
    // A damaged file must not stop the change; its error was reported by the first read.
    if (CErrorPtr err = ensureLoaded(set))
        diagLog(err->details());
    const auto it = set.values.find(name);
    if (it != set.values.end() && it->second == value)
        return nullptr;
    set.values[name] = value;
    set.modified = true;
    CErrorPtr saveError = saveDataSet(set);
    if (CErrorPtr err = announce(set.name, name, value, origin))
        diagLog(err->details());
    return saveError ? ZEL_PASS(std::move(saveError), kClassName) : nullptr;
}

CErrorPtr CApplicationData::readData(const CText& dataSet, std::uint32_t id, CByteBuffer& data,
                                     bool& found)
{
    CCriticalSectionLock lock(m_lock);
    data.clear();
    found = false;
    CDataSet& set = dataSetOf(dataSet);
    if (set.isSettings || (set.blockId != 0 && set.blockId != id))
        return ZEL_ERROR(kClassName, "zelstr_CApplicationData_readData_BlockId",
                         "Data set '%1' does not hold blocks '%2'.",
                         {dataSet.toUtf8(), blockIdText(id)});
    set.blockId = id;
    ZEL_TRY(ensureLoaded(set), kClassName);
    if (set.hasBlock)
    {
        data = set.block;
        found = true;
    }
    return nullptr;
}

CErrorPtr CApplicationData::writeData(const CText& dataSet, std::uint32_t id, const void* data,
                                      std::size_t size, const CBridge* origin)
{
    CCriticalSectionLock lock(m_lock);
    CDataSet& set = dataSetOf(dataSet);
    if (set.isSettings || (set.blockId != 0 && set.blockId != id))
        return ZEL_ERROR(kClassName, "zelstr_CApplicationData_writeData_BlockId",
                         "Data set '%1' does not hold blocks '%2'.",
                         {dataSet.toUtf8(), blockIdText(id)});
    set.blockId = id;
    set.loaded = true; // the new content replaces whatever the file held
    set.block.assign(data, size);
    set.hasBlock = true;
    set.modified = true;
    CErrorPtr saveError = saveDataSet(set);
    if (CErrorPtr err = announce(set.name, CText(), CText(), origin))
        diagLog(err->details());
    return saveError ? ZEL_PASS(std::move(saveError), kClassName) : nullptr;
}

void CApplicationData::addUpdateListener(const CBridge& bridge, CObject& owner)
{
    CCriticalSectionLock lock(m_lock);
    m_listeners[&bridge] = &owner;
}

void CApplicationData::removeUpdateListener(const CBridge& bridge)
{
    CCriticalSectionLock lock(m_lock);
    m_listeners.erase(&bridge);
}

std::size_t CApplicationData::updateListenerCount()
{
    CCriticalSectionLock lock(m_lock);
    return m_listeners.size();
}

CErrorPtr CApplicationData::announce(const CText& dataSet, const CText& name, const CText& value,
                                     const CBridge* origin)
{
    if (m_listeners.empty())
        return nullptr;
    CObjectPtr params = CObject::make<CObject>();
    params->setRootName("update");
    params->setAttributeRaw("event-name", "update");
    params->setAttributeRaw("listener-proc", "update");
    params->setAttributeRaw("data-set", dataSet);
    params->setAttributeRaw("data-name", name);
    params->setAttributeRaw("value", value);
    // A handler may add or remove listeners (it holds this re-entrant lock): serve a copy and
    // skip entries that left meanwhile.
    const std::map<const CBridge*, CObject*> listeners = m_listeners;
    CErrorPtr first;
    for (const auto& [bridge, owner] : listeners)
    {
        if (bridge == origin)
            continue;
        const auto it = m_listeners.find(bridge);
        if (it == m_listeners.end() || it->second != owner)
            continue;
        if (CErrorPtr err = owner->dispatchEvent(*params); err && !first)
            first = std::move(err);
    }
    return first;
}

// ---- CGlobalData, CLocalData ----

namespace
{
std::atomic<CGlobalData*>& globalSlot()
{
    static std::atomic<CGlobalData*> slot{nullptr};
    return slot;
}
std::atomic<CLocalData*>& localSlot()
{
    static std::atomic<CLocalData*> slot{nullptr};
    return slot;
}
} // namespace

CGlobalData::CGlobalData() : CApplicationData(kPrefix) {}

CGlobalData* CGlobalData::current()
{
    return globalSlot().load();
}

CGlobalData* CGlobalData::setCurrent(CGlobalData* data)
{
    return globalSlot().exchange(data);
}

CLocalData::CLocalData(const CText& appName)
    : CApplicationData(CText("AppData") + appdata::escapeFileName(appName) + CText("_")),
      m_appName(appName)
{
}

CLocalData* CLocalData::current()
{
    return localSlot().load();
}

CLocalData* CLocalData::setCurrent(CLocalData* data)
{
    return localSlot().exchange(data);
}

} // namespace zel
