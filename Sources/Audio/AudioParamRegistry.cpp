#include "Audio/AudioParamRegistry.h"

#include "Audio/AudioParam.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioParamStorage.h"
#include "Audio/AudioParamUndo.h"
#include "Core/ApplicationData.h"
#include "Core/BlockId.h"
#include "Core/ByteBuffer.h"
#include "Core/Log.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/Numbers.h"
#include "Core/ResourceStore.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

namespace zel
{
namespace
{

constexpr std::uint32_t kPresetBlockId = makeBlockId("aprs");
constexpr std::uint32_t kListBlockId = makeBlockId("alst");

bool startsWithText(const CText& text, const CText& prefix)
{
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// Whether path begins with the dotted segments of head: head itself or head followed by ".".
bool hasLeadingSegments(const CText& path, const CText& head)
{
    return startsWithText(path, head) && (path.size() == head.size() || path[head.size()] == u'.');
}

std::string str(std::int64_t value)
{
    return std::to_string(value);
}

// Reads a parameter record exactly as CAudioParam::loadRecord does, into scratch objects, so
// that a whole preset can be checked before any of it is applied.
CErrorPtr checkRecord(const CAudioParam& param, const CAudioPreset::Blob& blob,
                      const std::string& owner)
{
    const CAudioParamInfo& info = param.info();
    CMemoryReader in(blob.data(), blob.size());
    CText path;
    ZEL_TRY(in.readString(path), owner);
    CAudioParamStorage stored;
    stored.elementSize = info.elementSize;
    stored.dataType = info.dataType;
    CAudioParamData items;
    ZEL_TRY(stored.load(in, items), owner);
    const auto size = static_cast<std::size_t>(info.elementSize);
    for (const auto& values : stored.groups)
        if (info.singleElement && values.size() != size)
            return ZEL_ERROR(
                owner, "zelstr_CAudioParamRegistry_checkRecord_ElementCount",
                "Invalid number of values %1 for parameter '%2'.",
                {str(static_cast<std::int64_t>(values.size())), info.paramName.toUtf8()});
    return nullptr;
}

} // namespace

// Enters the undo history's lock (when there is a history) before the registry lock, the one
// order in which both are ever taken: the history's owner calls into the registry while it
// holds its own lock.
class CRegistryGuard
{
public:
    CRegistryGuard(CCriticalSection& registryLock, CAudioParamUndo* undo)
        : m_undoLock(undo != nullptr ? &undo->undoLock() : nullptr), m_lock(registryLock)
    {
        if (m_undoLock != nullptr)
            m_undoLock->enter();
        m_lock.enter();
    }
    ~CRegistryGuard()
    {
        m_lock.leave();
        if (m_undoLock != nullptr)
            m_undoLock->leave();
    }
    CRegistryGuard(const CRegistryGuard&) = delete;
    CRegistryGuard& operator=(const CRegistryGuard&) = delete;

private:
    CCriticalSection* m_undoLock;
    CCriticalSection& m_lock;
};

// ---- Name bridge ----

CAudioParamRegistryNameBridge::CAudioParamRegistryNameBridge(const CAudioParamRegistry& registry)
    : m_registry(registry)
{
}

CAudioParamRegistryNameBridge::~CAudioParamRegistryNameBridge()
{
    detachAllBridges();
}

CText CAudioParamRegistryNameBridge::name() const
{
    return m_registry.plainName();
}

CText CAudioParamRegistryNameBridge::id() const
{
    return m_registry.id();
}

CText CAudioParamRegistryNameBridge::nameOf(const CBridge& bridge)
{
    CBridge::CAccess access(bridge);
    const auto* base = dynamic_cast<const CAudioParamRegistryNameBridge*>(access.base());
    return base != nullptr ? base->name() : CText();
}

CText CAudioParamRegistryNameBridge::idOf(const CBridge& bridge)
{
    CBridge::CAccess access(bridge);
    const auto* base = dynamic_cast<const CAudioParamRegistryNameBridge*>(access.base());
    return base != nullptr ? base->id() : CText();
}

// ---- Registry: attributes and initialisation ----

CAudioParamRegistry::CAudioParamRegistry() : m_nameBridge(*this) {}

CAudioParamRegistry::~CAudioParamRegistry()
{
    // Clients must not read the name of a registry that is half destroyed.
    m_nameBridge.detachAllBridges();
}

void CAudioParamRegistry::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioParamRegistry::onHierarchy>("hierarchy");
    info.attribute<&CAudioParamRegistry::onDefNamePrefix>("def-name-prefix");
    info.attribute<&CAudioParamRegistry::onDefNameRemap>("def-name-remap");
    info.flag<&CAudioParamRegistry::m_isMaster>("is-master");
    info.flag<&CAudioParamRegistry::m_isEnumerated>("is-enumerated");
    info.flag<&CAudioParamRegistry::m_isElementEnum>("is-element-enum");
    info.attribute<&CAudioParamRegistry::onId>("id");
    info.attribute<&CAudioParamRegistry::onParamCollector>("param-collector");
    info.attribute<&CAudioParamRegistry::onPresetNaming>("preset-naming");
    info.attribute<&CAudioParamRegistry::onParamUndo>("param-undo");
    info.attribute<&CAudioParamRegistry::onPresetNameParam>("preset-name-param");
    info.attribute<&CAudioParamRegistry::onGroupNamesParam>("group-names-param");
    info.attribute<&CAudioParamRegistry::onFile>("file");
    info.attribute<&CAudioParamRegistry::onStoreName>("store-name");
}

CErrorPtr CAudioParamRegistry::onHierarchy(const CText& value)
{
    // The hierarchy is compared with the collector's full paths, which carry no leading "/".
    m_hierarchy = value.startsWith("/") ? value.substr(1) : value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onDefNamePrefix(const CText& value)
{
    m_defNamePrefix = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onDefNameRemap(const CText& value)
{
    std::vector<CRemapPair> pairs;
    std::size_t start = 0;
    while (start <= value.size())
    {
        std::size_t end = value.find(u' ', start);
        if (end == CText::npos)
            end = value.size();
        const CText piece = value.substr(start, end - start);
        start = end + 1;
        if (piece.empty())
            continue;
        const std::size_t eq = piece.find(u'=');
        if (eq == CText::npos || eq == 0)
            return ZEL_ERROR(fullName().toUtf8(),
                             "zelstr_CAudioParamRegistry_onDefNameRemap_InvalidRemap",
                             "Invalid remapping string '%1' defined.", {piece.toUtf8()});
        pairs.push_back({piece.substr(0, eq), piece.substr(eq + 1)});
    }
    m_remap = std::move(pairs);
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onId(const CText& value)
{
    m_id = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onParamCollector(const CText& value)
{
    m_collectorPath = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onPresetNaming(const CText& value)
{
    m_presetNaming = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onParamUndo(const CText& value)
{
    m_undoPath = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onPresetNameParam(const CText& value)
{
    m_presetNameParam = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onGroupNamesParam(const CText& value)
{
    m_groupNamesParam = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onFile(const CText& value)
{
    m_file = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::onStoreName(const CText& value)
{
    m_storeName = value;
    return nullptr;
}

CErrorPtr CAudioParamRegistry::init()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CObject::init(), owner);
    if (m_collectorPath.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioParamRegistry_init_NoCollector",
                         "No parameter collector specified.");
    // The collector may be created after the registry; it is resolved again on first use.
    (void)m_collector.resolvePath(*this, m_collectorPath, false);
    if (!m_undoPath.empty())
        ZEL_TRY(m_undo.resolvePath(*this, m_undoPath, true), owner);
    if (!m_isMaster)
        return nullptr;
    ZEL_TRY(loadFactoryBank(), owner);
    loadDefaultPreset();
    return nullptr;
}

CErrorPtr CAudioParamRegistry::loadFactoryBank()
{
    const std::string owner = fullName().toUtf8();
    CAudioPresetBank factory;
    if (!m_file.empty())
    {
        std::unique_ptr<CResourceReader> reader;
        ZEL_TRY(openResource(m_file, reader), owner);
        ZEL_TRY(factory.loadBlock(*reader), owner);
    }
    factory.name = kFactoryBankName;
    CRegistryGuard guard(m_lock, m_undo.get());
    m_factory = factory;
    m_session = std::move(factory);
    m_session.name = kSessionBankName;
    // The host needs at least one program; it fills in from the live values on first capture.
    if (m_session.presets.empty())
    {
        m_session.presets.emplace_back();
        m_session.presets.back().name = defaultPresetName();
    }
    m_current = 0;
    return nullptr;
}

void CAudioParamRegistry::loadDefaultPreset()
{
    CGlobalData* data = CGlobalData::current();
    if (data == nullptr)
        return;
    CByteBuffer plain;
    bool found = false;
    if (CErrorPtr err = data->readData(defaultPresetName(), kPresetBlockId, plain, found))
    {
        diagLog("Default preset not read: " + err->text());
        return;
    }
    if (!found)
        return;
    CAudioPreset preset;
    CMemoryReader in(plain.data(), plain.size());
    if (CErrorPtr err = preset.load(in))
    {
        diagLog("Default preset not read: " + err->text());
        return;
    }
    if (in.remaining() != 0)
    {
        diagLog("Default preset not read: unexpected data after the record.");
        return;
    }
    CRegistryGuard guard(m_lock, m_undo.get());
    m_pendingDefault = std::move(preset);
    refreshMap();
}

// ---- Keys and the parameter map ----

bool CAudioParamRegistry::keyOf(const CText& fullPath, CText& key) const
{
    CText rest = fullPath;
    if (!m_hierarchy.empty())
    {
        if (!hasLeadingSegments(fullPath, m_hierarchy) || fullPath.size() == m_hierarchy.size())
            return false;
        rest = fullPath.substr(m_hierarchy.size() + 1);
    }
    if (!m_defNamePrefix.empty() && rest.size() > m_defNamePrefix.size() &&
        startsWithText(rest, m_defNamePrefix))
    {
        rest = rest.substr(m_defNamePrefix.size());
        if (rest[0] == u'.')
            rest = rest.substr(1);
    }
    if (rest.empty())
        return false;
    key = rest;
    return true;
}

CText CAudioParamRegistry::storedPathOf(const CText& fullPath) const
{
    for (const CRemapPair& pair : m_remap)
        if (hasLeadingSegments(fullPath, pair.from))
            return pair.to + fullPath.substr(pair.from.size());
    return fullPath;
}

CErrorPtr CAudioParamRegistry::requireCollector()
{
    if (m_collector)
        return nullptr;
    ZEL_TRY(m_collector.resolvePath(*this, m_collectorPath, true), fullName().toUtf8());
    return nullptr;
}

void CAudioParamRegistry::refreshMap()
{
    if (requireCollector())
        return;
    CAudioParamCollector* collector = m_collector.get();
    const std::uint32_t generation = collector->generation();
    if (m_mapBuilt && generation == m_mapGeneration)
        return;
    m_map.clear();
    collector->forEachParam(
        [this](const CText& path, CAudioParam& param)
        {
            CText key;
            if (keyOf(path, key))
                m_map[key] = {&param, path, storedPathOf(path)};
        });
    m_mapBuilt = true;
    m_mapGeneration = generation;
    // The default preset waits for the parameters when they were registered after init.
    if (m_pendingDefault && !m_map.empty())
    {
        const CAudioPreset preset = std::move(*m_pendingDefault);
        m_pendingDefault.reset();
        if (CErrorPtr err = checkPreset(preset, -1, "Incompatible preset."))
            diagLog("Default preset not applied: " + err->text());
        else
            applyChecked(preset, -1);
    }
}

void CAudioParamRegistry::parametersReady()
{
    CRegistryGuard guard(m_lock, m_undo.get());
    refreshMap();
}

std::vector<CText> CAudioParamRegistry::keys()
{
    CRegistryGuard guard(m_lock, m_undo.get());
    refreshMap();
    std::vector<CText> out;
    for (const auto& [key, slot] : m_map)
        out.push_back(key);
    return out;
}

CAudioParam* CAudioParamRegistry::findParam(const CText& key)
{
    CRegistryGuard guard(m_lock, m_undo.get());
    refreshMap();
    const auto it = m_map.find(key);
    return it != m_map.end() ? it->second.param : nullptr;
}

// ---- Capture and apply ----

CAudioPreset CAudioParamRegistry::captureLocked(const CText& name, std::int32_t group)
{
    CAudioPreset preset;
    preset.name = name;
    for (const auto& [key, slot] : m_map)
    {
        if (!slot.param->info().storable)
            continue;
        CMemoryWriteBuffer out;
        if (CErrorPtr err = slot.param->saveRecord(out, slot.storedPath, group))
        {
            diagLog("Parameter not captured: " + err->text());
            continue;
        }
        preset.entries[key] = out.toVector();
    }
    return preset;
}

CAudioPreset CAudioParamRegistry::capturePreset(const CText& name, std::int32_t group)
{
    CRegistryGuard guard(m_lock, m_undo.get());
    refreshMap();
    return captureLocked(name, group);
}

CErrorPtr CAudioParamRegistry::checkPreset(const CAudioPreset& preset, std::int32_t group,
                                           const char* incompatibleText)
{
    const std::string owner = fullName().toUtf8();
    if (idPrefixOf(preset.name) != m_id)
        return ZEL_ERROR(owner, "zelstr_CAudioParamRegistry_checkPreset_Incompatible",
                         incompatibleText);
    if (group < -1)
        return badGroup(group);
    for (const auto& [key, blob] : preset.entries)
    {
        const auto it = m_map.find(key);
        if (it == m_map.end() || !it->second.param->info().storable)
            continue;
        const CAudioParam& param = *it->second.param;
        if (group >= param.groupCount() && !param.info().singleGroup)
            return badGroup(group);
        ZEL_TRY(checkRecord(param, blob, owner), owner);
    }
    return nullptr;
}

void CAudioParamRegistry::applyChecked(const CAudioPreset& preset, std::int32_t group)
{
    for (const auto& [key, slot] : m_map)
    {
        // Persistent and other non-storable parameters are instance state, never preset state.
        if (!slot.param->info().storable)
            continue;
        const auto it = preset.entries.find(key);
        if (it == preset.entries.end())
            continue;
        CMemoryReader in(it->second.data(), it->second.size());
        if (CErrorPtr err = slot.param->loadRecord(in, group))
            diagLog("Parameter not applied: " + err->text());
    }
}

CErrorPtr CAudioParamRegistry::applyPreset(const CAudioPreset& preset, std::int32_t group)
{
    // One operation: host notifications follow once the registry lock is released.
    const CAudioParamChangeScope operation;
    CRegistryGuard guard(m_lock, m_undo.get());
    refreshMap();
    ZEL_TRY(checkPreset(preset, group, "Incompatible preset."), fullName().toUtf8());
    applyChecked(preset, group);
    return nullptr;
}

CAudioParam* CAudioParamRegistry::nameParam(CText* path)
{
    if (m_presetNameParam.empty())
        return nullptr;
    const auto it = m_map.find(m_presetNameParam);
    if (it != m_map.end())
    {
        if (path != nullptr)
            *path = it->second.fullPath;
        return it->second.param;
    }
    CAudioParamCollector* collector = m_collector.get();
    if (collector == nullptr)
        return nullptr;
    CText full =
        m_presetNameParam.startsWith("/") ? m_presetNameParam.substr(1) : m_presetNameParam;
    CAudioParam* param = collector->findParam(full);
    if (param == nullptr && !m_hierarchy.empty())
    {
        full = m_hierarchy + CText(".") + full;
        param = collector->findParam(full);
    }
    if (param != nullptr && path != nullptr)
        *path = full;
    return param;
}

void CAudioParamRegistry::publishProgramName(const CText& presetName)
{
    if (CAudioParam* param = nameParam(nullptr))
        if (CErrorPtr err = param->setString(0, 0, visibleNameOf(presetName)))
            diagLog("Program name not published: " + err->text());
}

void CAudioParamRegistry::recorded(const CText& label, const std::function<void()>& change,
                                   bool nameOnly)
{
    CAudioParamUndo* undo = m_undo.get();
    if (undo == nullptr)
    {
        change();
        return;
    }
    std::vector<std::pair<CAudioParam*, CText>> touched;
    if (!nameOnly)
        for (const auto& [key, slot] : m_map)
            touched.emplace_back(slot.param, slot.fullPath);
    CText namePath;
    if (CAudioParam* param = nameParam(&namePath))
        if (std::none_of(touched.begin(), touched.end(),
                         [param](const auto& item) { return item.first == param; }))
            touched.emplace_back(param, namePath);

    auto record = std::make_unique<CAudioParamUndoRecord>(label);
    for (const auto& [param, path] : touched)
        record->captureBefore(*param, path);
    change();
    for (const auto& [param, path] : touched)
        record->captureAfter(*param, path);
    // The guard of the calling operation already holds the history's lock.
    undo->addRecord(std::move(record), true);
}

CAudioPreset* CAudioParamRegistry::currentLocked()
{
    if (!m_isMaster || m_current < 0 ||
        m_current >= static_cast<std::int32_t>(m_session.presets.size()))
        return nullptr;
    return &m_session.presets[static_cast<std::size_t>(m_current)];
}

void CAudioParamRegistry::refreshCurrentProgram()
{
    if (CAudioPreset* program = currentLocked())
        *program = captureLocked(program->name, -1);
}

CText CAudioParamRegistry::currentNameLocked()
{
    const CAudioPreset* program = currentLocked();
    return program != nullptr ? program->name : m_id + CText(":");
}

// ---- Records ----

CErrorPtr CAudioParamRegistry::acquirePreset(bool fromFactory, std::int32_t index,
                                             std::int32_t group, COutputStream& out)
{
    const std::string owner = fullName().toUtf8();
    CAudioPreset preset;
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        refreshMap();
        if (group < -1)
            return badGroup(group);
        if (!m_isMaster)
            preset = captureLocked(currentNameLocked(), group);
        else
        {
            const CAudioPresetBank& bank = fromFactory ? m_factory : m_session;
            const auto count = static_cast<std::int32_t>(bank.presets.size());
            if (index < (fromFactory ? 0 : -1) || index >= count)
                return badIndex("acquirePreset", index);
            if (!fromFactory && (index == -1 || index == m_current))
            {
                refreshCurrentProgram();
                const CAudioPreset* program = currentLocked();
                preset = group < 0 && program != nullptr
                             ? *program
                             : captureLocked(currentNameLocked(), group);
            }
            else
                preset = bank.presets[static_cast<std::size_t>(index)];
        }
    }
    ZEL_TRY(preset.save(out), owner);
    return nullptr;
}

CErrorPtr CAudioParamRegistry::acquireBank(bool fromFactory, COutputStream& out)
{
    CAudioPresetBank bank;
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        if (!m_isMaster)
            return notMaster("acquireBank");
        refreshMap();
        if (!fromFactory)
            refreshCurrentProgram();
        bank = fromFactory ? m_factory : m_session;
    }
    ZEL_TRY(bank.save(out), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioParamRegistry::activatePreset(CInputStream& in, std::int32_t index,
                                              std::int32_t group)
{
    // The record is read completely before anything is locked or changed.
    CAudioPreset preset;
    ZEL_TRY(preset.load(in), fullName().toUtf8());
    return activatePreset(preset, index, group);
}

CErrorPtr CAudioParamRegistry::activatePreset(const CAudioPreset& preset, std::int32_t index,
                                              std::int32_t group)
{
    // One operation: host notifications follow once the registry lock is released.
    const CAudioParamChangeScope operation;
    const std::string owner = fullName().toUtf8();
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        refreshMap();
        const auto count = static_cast<std::int32_t>(m_session.presets.size());
        if (m_isMaster && (index < -1 || index >= count))
            return badIndex("activatePreset", index);
        ZEL_TRY(checkPreset(preset, group, "Incompatible preset."), owner);
        if (m_isMaster && index >= 0 && index != m_current)
        {
            // Another program only stores the preset; the live values stay.
            m_session.presets[static_cast<std::size_t>(index)] = preset;
        }
        else
        {
            recorded(visibleNameOf(preset.name) + CText(kActivateSuffix),
                     [&]
                     {
                         applyChecked(preset, group);
                         publishProgramName(preset.name);
                     });
            if (CAudioPreset* program = currentLocked())
                *program = captureLocked(preset.name, -1);
        }
        m_changed = true;
    }
    notifyListeners();
    return nullptr;
}

CErrorPtr CAudioParamRegistry::activateBank(CInputStream& in)
{
    CAudioPresetBank bank;
    ZEL_TRY(bank.load(in), fullName().toUtf8());
    return activateBank(std::move(bank));
}

CErrorPtr CAudioParamRegistry::activateBank(CAudioPresetBank bank)
{
    // One operation: host notifications follow once the registry lock is released.
    const CAudioParamChangeScope operation;
    const std::string owner = fullName().toUtf8();
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        if (!m_isMaster)
            return notMaster("activateBank");
        refreshMap();
        if (bank.presets.empty())
            return ZEL_ERROR(owner, "zelstr_CAudioParamRegistry_activateBank_Incompatible",
                             "Incompatible bank.");
        for (const CAudioPreset& preset : bank.presets)
            ZEL_TRY(checkPreset(preset, -1, "Incompatible bank."), owner);
        const auto count = static_cast<std::int32_t>(bank.presets.size());
        const std::int32_t current = m_current >= 0 && m_current < count ? m_current : 0;
        const CAudioPreset& program = bank.presets[static_cast<std::size_t>(current)];
        recorded(visibleNameOf(program.name) + CText(kActivateSuffix),
                 [&]
                 {
                     applyChecked(program, -1);
                     publishProgramName(program.name);
                 });
        m_session = std::move(bank);
        m_session.name = kSessionBankName;
        m_current = current;
        refreshCurrentProgram();
        m_changed = true;
    }
    notifyListeners();
    return nullptr;
}

// ---- Programs ----

std::int32_t CAudioParamRegistry::programCount()
{
    CCriticalSectionLock guard(m_lock);
    return static_cast<std::int32_t>(m_session.presets.size());
}

std::int32_t CAudioParamRegistry::currentProgram()
{
    CCriticalSectionLock guard(m_lock);
    return m_current;
}

CText CAudioParamRegistry::programName(std::int32_t index)
{
    CCriticalSectionLock guard(m_lock);
    if (index < 0 || index >= static_cast<std::int32_t>(m_session.presets.size()))
        return CText();
    return m_session.presets[static_cast<std::size_t>(index)].name;
}

CErrorPtr CAudioParamRegistry::selectProgram(std::int32_t index)
{
    // One operation: host notifications follow once the registry lock is released.
    const CAudioParamChangeScope operation;
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        if (!m_isMaster || index < 0 ||
            index >= static_cast<std::int32_t>(m_session.presets.size()) || index == m_current)
            return nullptr;
        refreshMap();
        const CAudioPreset program = m_session.presets[static_cast<std::size_t>(index)];
        ZEL_TRY(checkPreset(program, -1, "Incompatible preset."), fullName().toUtf8());
        refreshCurrentProgram();
        recorded(visibleNameOf(program.name) + CText(kActivateSuffix),
                 [&]
                 {
                     m_current = index;
                     applyChecked(program, -1);
                     publishProgramName(program.name);
                 });
        m_changed = true;
    }
    notifyListeners();
    return nullptr;
}

CErrorPtr CAudioParamRegistry::renameProgram(std::int32_t index, const CText& visibleName)
{
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        if (!m_isMaster)
            return notMaster("renameProgram");
        if (index < 0 || index >= static_cast<std::int32_t>(m_session.presets.size()))
            return badIndex("renameProgram", index);
        refreshMap();
        const CText name = m_id + CText(":") + visibleName;
        CAudioPreset& program = m_session.presets[static_cast<std::size_t>(index)];
        if (index == m_current)
            recorded(
                kRenameLabel,
                [&]
                {
                    program.name = name;
                    publishProgramName(name);
                },
                true);
        else
            program.name = name;
        m_changed = true;
    }
    notifyListeners();
    return nullptr;
}

CErrorPtr CAudioParamRegistry::activateFactoryPreset(std::int32_t index)
{
    // One operation: host notifications follow once the registry lock is released.
    const CAudioParamChangeScope operation;
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        if (!m_isMaster)
            return notMaster("activateFactoryPreset");
        if (index < 0 || index >= static_cast<std::int32_t>(m_factory.presets.size()))
            return badIndex("activateFactoryPreset", index);
        refreshMap();
        const CAudioPreset preset = m_factory.presets[static_cast<std::size_t>(index)];
        ZEL_TRY(checkPreset(preset, -1, "Incompatible preset."), fullName().toUtf8());
        recorded(kRomActivateLabel,
                 [&]
                 {
                     applyChecked(preset, -1);
                     publishProgramName(preset.name);
                 });
        if (CAudioPreset* program = currentLocked())
            *program = captureLocked(preset.name, -1);
        m_changed = true;
    }
    notifyListeners();
    return nullptr;
}

void CAudioParamRegistry::resetToDefaults()
{
    // One operation: host notifications follow once the registry lock is released.
    const CAudioParamChangeScope operation;
    CRegistryGuard guard(m_lock, m_undo.get());
    refreshMap();
    recorded(kResetLabel,
             [&]
             {
                 for (const auto& [key, slot] : m_map)
                     if (slot.param->info().storable)
                         slot.param->resetToDefaults();
             });
}

CAudioParamRegistry::CState CAudioParamRegistry::state()
{
    CCriticalSectionLock guard(m_lock);
    CState out;
    out.currentProgram = m_isMaster ? m_current : -1;
    for (const CAudioPreset& preset : m_session.presets)
        out.sessionNames.push_back(preset.name);
    for (const CAudioPreset& preset : m_factory.presets)
        out.factoryNames.push_back(preset.name);
    return out;
}

CAudioPresetBank CAudioParamRegistry::sessionBank()
{
    CCriticalSectionLock guard(m_lock);
    return m_session;
}

CAudioPresetBank CAudioParamRegistry::factoryBank()
{
    CCriticalSectionLock guard(m_lock);
    return m_factory;
}

// ---- A/B ----

void CAudioParamRegistry::updateShadowPreset()
{
    CRegistryGuard guard(m_lock, m_undo.get());
    refreshMap();
    m_shadow = captureLocked(currentNameLocked(), -1);
}

CErrorPtr CAudioParamRegistry::exchangeShadowPreset()
{
    // One operation: host notifications follow once the registry lock is released.
    const CAudioParamChangeScope operation;
    {
        CRegistryGuard guard(m_lock, m_undo.get());
        refreshMap();
        CAudioPreset captured = captureLocked(currentNameLocked(), -1);
        if (!m_shadow)
        {
            m_shadow = std::move(captured);
            return nullptr;
        }
        const CAudioPreset shadow = *m_shadow;
        ZEL_TRY(checkPreset(shadow, -1, "Incompatible preset."), fullName().toUtf8());
        applyChecked(shadow, -1);
        if (CAudioPreset* program = currentLocked())
        {
            program->name = shadow.name;
            m_changed = true;
        }
        publishProgramName(shadow.name);
        m_shadow = std::move(captured);
    }
    notifyListeners();
    return nullptr;
}

bool CAudioParamRegistry::hasShadowPreset()
{
    CCriticalSectionLock guard(m_lock);
    return m_shadow.has_value();
}

// ---- Application data ----

CText CAudioParamRegistry::defaultPresetName() const
{
    return m_id + CText(kDefaultSuffix);
}

CErrorPtr CAudioParamRegistry::storeDefaultPreset()
{
    const std::string owner = fullName().toUtf8();
    CGlobalData* data = CGlobalData::current();
    if (data == nullptr)
        return noApplicationData("storeDefaultPreset");
    const CAudioPreset preset = capturePreset(defaultPresetName(), -1);
    CMemoryWriteBuffer out;
    ZEL_TRY(preset.save(out), owner);
    const std::vector<std::uint8_t> bytes = out.toVector();
    ZEL_TRY(data->writeData(defaultPresetName(), kPresetBlockId, bytes.data(), bytes.size()),
            owner);
    return nullptr;
}

CErrorPtr CAudioParamRegistry::loadPresetList(std::vector<CAudioPresetBank>& banks)
{
    const std::string owner = fullName().toUtf8();
    CGlobalData* data = CGlobalData::current();
    if (data == nullptr)
        return noApplicationData("loadPresetList");
    if (m_storeName.empty())
        return noStoreName("loadPresetList");
    CByteBuffer plain;
    bool found = false;
    ZEL_TRY(data->readData(m_storeName, kListBlockId, plain, found), owner);
    if (!found)
    {
        banks.clear();
        return nullptr;
    }
    ZEL_TRY(decodePresetList(plain.data(), plain.size(), banks), owner);
    return nullptr;
}

CErrorPtr CAudioParamRegistry::savePresetList(const std::vector<CAudioPresetBank>& banks)
{
    const std::string owner = fullName().toUtf8();
    CGlobalData* data = CGlobalData::current();
    if (data == nullptr)
        return noApplicationData("savePresetList");
    if (m_storeName.empty())
        return noStoreName("savePresetList");
    CMemoryWriteBuffer out;
    ZEL_TRY(CAudioPresetBank::saveList(out, banks), owner);
    const std::vector<std::uint8_t> bytes = out.toVector();
    ZEL_TRY(data->writeData(m_storeName, kListBlockId, bytes.data(), bytes.size()), owner);
    return nullptr;
}

CErrorPtr CAudioParamRegistry::decodePresetList(const std::uint8_t* data, std::size_t size,
                                                std::vector<CAudioPresetBank>& banks)
{
    const char* owner = "CAudioParamRegistry";
    CMemoryReader in(data, size);
    std::vector<CAudioPresetBank> loaded;
    ZEL_TRY(CAudioPresetBank::loadList(in, loaded), owner);
    if (in.remaining() != 0)
        return ZEL_ERROR(owner, "zelstr_CAudioParamRegistry_decodePresetList_TrailingData",
                         "Unexpected data after the bank list.");
    banks = std::move(loaded);
    return nullptr;
}

// ---- Listeners ----

void CAudioParamRegistry::addListener(CAudioParamRegistryListener* listener)
{
    CCriticalSectionLock guard(m_lock);
    if (listener != nullptr &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void CAudioParamRegistry::removeListener(CAudioParamRegistryListener* listener)
{
    CCriticalSectionLock guard(m_lock);
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                      m_listeners.end());
}

void CAudioParamRegistry::notifyListeners()
{
    std::vector<CAudioParamRegistryListener*> listeners;
    {
        CCriticalSectionLock guard(m_lock);
        if (!m_changed)
            return;
        m_changed = false;
        listeners = m_listeners;
    }
    for (CAudioParamRegistryListener* listener : listeners)
        listener->onRegistryChanged(*this);
}

// ---- Names and errors ----

CText CAudioParamRegistry::idPrefixOf(const CText& presetName)
{
    const std::size_t colon = presetName.find(u':');
    return colon == CText::npos ? CText() : presetName.substr(0, colon);
}

CText CAudioParamRegistry::visibleNameOf(const CText& presetName)
{
    const std::size_t colon = presetName.find(u':');
    return colon == CText::npos ? presetName : presetName.substr(colon + 1);
}

CErrorPtr CAudioParamRegistry::badIndex(const char* method, std::int32_t index) const
{
    return ZEL_ERROR(fullName().toUtf8(),
                     std::string("zelstr_CAudioParamRegistry_") + method + "_InvalidIndex",
                     "Invalid preset index %1 specified.", {str(index)});
}

CErrorPtr CAudioParamRegistry::badGroup(std::int32_t group) const
{
    return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamRegistry_InvalidGroup",
                     "Invalid group index %1 specified.", {str(group)});
}

CErrorPtr CAudioParamRegistry::notMaster(const char* method) const
{
    return ZEL_ERROR(fullName().toUtf8(),
                     std::string("zelstr_CAudioParamRegistry_") + method + "_NotMaster",
                     "Acquiring bank in a non-master registry is an error.");
}

CErrorPtr CAudioParamRegistry::noApplicationData(const char* method) const
{
    return ZEL_ERROR(fullName().toUtf8(),
                     std::string("zelstr_CAudioParamRegistry_") + method + "_NoData",
                     "No application data available.");
}

CErrorPtr CAudioParamRegistry::noStoreName(const char* method) const
{
    return ZEL_ERROR(fullName().toUtf8(),
                     std::string("zelstr_CAudioParamRegistry_") + method + "_NoStoreName",
                     "No store name defined.");
}

} // namespace zel
