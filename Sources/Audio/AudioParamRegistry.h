#pragma once
// CAudioParamRegistry ("audio:param-registry"): the owner of one subtree of parameters as one
// state. It maps preset keys to the live parameters found through the collector, captures them
// into preset records and applies records back, keeps the programs the host sees (the Session
// Bank, the read-only factory bank, the current program), the A/B shadow preset and the link
// to the undo history. The master registry holds the programs; non-master registries (routing,
// editor style) keep their presets as a bank list in the application data.
//
// Keys and paths. A parameter belongs to the registry when its full path (as registered with
// the collector) lies below "hierarchy". Its key is the path with "hierarchy." removed and then
// "def-name-prefix" (and a "." following it) removed from the front; its stored path (the path
// inside its parameter record) is the full path after "def-name-remap": the first from=to pair
// whose "from" equals the path's leading segments replaces them. The map is built lazily and
// rebuilt whenever the collector's generation changes, because the process graph may register
// parameters after the registry's init.
//
// Capture and apply. A capture holds one entry per storable parameter. Applying a preset first
// checks the name's id prefix (the text before the first ":" must equal "id") and reads every
// entry that names a parameter of the registry into scratch storage; only when all of them
// read cleanly are they applied (each parameter clamps and notifies once per group). A
// parameter without an entry keeps its value; an entry whose key names no parameter is
// skipped. Records are plain preset and bank records; the caller frames them as tagged blocks.
//
// Locking: every public operation takes the registry lock (banks, current program, shadow,
// map); parameter values are guarded by each parameter's own lock. Registry listeners are
// called after the registry lock is released.
//
// This is not the collector (parameter index and change transport) and not the undo history.

#include "Audio/AudioPresetBank.h"
#include "Core/Bridge.h"
#include "Core/Object.h"
#include "Core/Target.h"
#include "Platform/CriticalSection.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace zel
{

class CAudioParam;
class CAudioParamCollector;
class CAudioParamRegistry;
class CAudioParamUndo;
class CByteBuffer;
class CInputStream;
class COutputStream;

// Publishes a registry's name to the objects that refer to it. Clients hold a CBridge attached
// to registry.nameBridge() and read the name through it; when the registry dies their bridges
// are detached and they read an empty name.
class CAudioParamRegistryNameBridge : public CBridgeBase
{
public:
    explicit CAudioParamRegistryNameBridge(const CAudioParamRegistry& registry);
    ~CAudioParamRegistryNameBridge() override;

    // The registry's object name (what parameters name in "param-registry") and its "id".
    CText name() const;
    CText id() const;

    // What a client reads through its bridge; empty when the bridge is detached.
    static CText nameOf(const CBridge& bridge);
    static CText idOf(const CBridge& bridge);

private:
    const CAudioParamRegistry& m_registry;
};

// Told after the programs, the current program or the names changed (after the lock is
// released, on the thread that made the change).
class CAudioParamRegistryListener
{
public:
    virtual ~CAudioParamRegistryListener() = default;
    virtual void onRegistryChanged(CAudioParamRegistry& registry) = 0;
};

class CAudioParamRegistry : public CObject
{
public:
    static constexpr const char* kSessionBankName = "Session Bank";
    static constexpr const char* kFactoryBankName = "Factory ROM";
    static constexpr const char* kDefaultSuffix = ":Default";
    static constexpr const char* kRomActivateLabel = "ROM preset activate";
    static constexpr const char* kRenameLabel = "Program name change";
    static constexpr const char* kResetLabel = "Master reset";
    static constexpr const char* kActivateSuffix = " activate";

    // What listeners (the editor's preset views) see.
    struct CState
    {
        std::int32_t currentProgram = -1;
        std::vector<CText> sessionNames;
        std::vector<CText> factoryNames;
    };

    CAudioParamRegistry();
    ~CAudioParamRegistry() override;

    static void registerClass(CClassInfo& info);
    // Resolves the collector (required) and the undo history (optional). A master registry
    // loads the factory bank named by "file" (none when empty), copies it into the Session
    // Bank and takes the default preset from the global application data; when the
    // parameters are not registered yet, the default preset is applied as soon as the map
    // first finds them.
    CErrorPtr init() override;

    // ---- Attributes ----
    CErrorPtr onHierarchy(const CText& value);
    CErrorPtr onDefNamePrefix(const CText& value);
    CErrorPtr onDefNameRemap(const CText& value);
    CErrorPtr onId(const CText& value);
    CErrorPtr onParamCollector(const CText& value);
    CErrorPtr onPresetNaming(const CText& value);
    CErrorPtr onParamUndo(const CText& value);
    CErrorPtr onPresetNameParam(const CText& value);
    CErrorPtr onGroupNamesParam(const CText& value);
    CErrorPtr onFile(const CText& value);
    CErrorPtr onStoreName(const CText& value);

    const CText& hierarchy() const { return m_hierarchy; }
    const CText& id() const { return m_id; }
    bool isMaster() const { return m_isMaster; }
    bool isEnumerated() const { return m_isEnumerated; }
    bool isElementEnum() const { return m_isElementEnum; }
    const CText& presetNaming() const { return m_presetNaming; }
    const CText& presetNameParam() const { return m_presetNameParam; }
    const CText& groupNamesParam() const { return m_groupNamesParam; }
    const CText& file() const { return m_file; }
    const CText& storeName() const { return m_storeName; }
    CAudioParamCollector* collector() const { return m_collector.get(); }
    CAudioParamUndo* undoHistory() const { return m_undo.get(); }
    CAudioParamRegistryNameBridge& nameBridge() { return m_nameBridge; }

    // Called by whoever builds the instance once the process graph has registered its
    // parameters: a pending default preset is applied now rather than on the registry's first
    // use, so that the instance starts processing in its default state.
    void parametersReady();

    // ---- Keys ----
    // The key of a full path; false when the path is outside the hierarchy.
    bool keyOf(const CText& fullPath, CText& key) const;
    CText storedPathOf(const CText& fullPath) const;
    // The registry's parameters by key (the map is refreshed first).
    std::vector<CText> keys();
    CAudioParam* findParam(const CText& key);

    // ---- Records ----
    // Writes one preset record: a non-master registry captures the live values (index is
    // ignored); the master writes program index of the Session Bank (-1: the current one,
    // refreshed from the live values first, as is the current program given by its index) or
    // of the factory bank. group -1 writes all groups.
    CErrorPtr acquirePreset(bool fromFactory, std::int32_t index, std::int32_t group,
                            COutputStream& out);
    // Writes the Session Bank (current program refreshed first) or the factory bank. Master
    // only.
    CErrorPtr acquireBank(bool fromFactory, COutputStream& out);
    // Reads a preset record and applies it (one undo record labelled with the visible name
    // followed by " activate"). On the master, index -1 or the current index makes the applied
    // state the current program; another valid index only stores the preset as that program.
    CErrorPtr activatePreset(CInputStream& in, std::int32_t index = -1, std::int32_t group = -1);
    // The same with a record already read, for callers that must see their whole input read
    // cleanly (a tagged block with nothing after the record) before anything changes.
    CErrorPtr activatePreset(const CAudioPreset& preset, std::int32_t index = -1,
                             std::int32_t group = -1);
    // Reads a bank record, replaces the Session Bank and applies its current program (the
    // index stays when it fits the new bank, else 0). The bank fits when it holds at least one
    // preset and every preset carries this registry's id prefix and reads cleanly; otherwise
    // "Incompatible bank." (or the record's own error) and nothing changes. Master only.
    CErrorPtr activateBank(CInputStream& in);
    CErrorPtr activateBank(CAudioPresetBank bank);

    // ---- Capture and apply ----
    CAudioPreset capturePreset(const CText& name, std::int32_t group = -1);
    // Checks the id prefix and every entry, then applies (no undo record).
    CErrorPtr applyPreset(const CAudioPreset& preset, std::int32_t group = -1);

    // ---- Programs (master) ----
    std::int32_t programCount();
    std::int32_t currentProgram();
    // Program names as stored ("id:visible").
    CText programName(std::int32_t index);
    // Switches to a program; an index outside the bank or equal to the current one changes
    // nothing. A stored program that does not read cleanly is an error and nothing changes.
    CErrorPtr selectProgram(std::int32_t index);
    CErrorPtr renameProgram(std::int32_t index, const CText& visibleName);
    // Applies factory preset index to the live values and makes it the current program.
    CErrorPtr activateFactoryPreset(std::int32_t index);
    // Every storable parameter back to its definition's defaults.
    void resetToDefaults();
    CState state();
    CAudioPresetBank sessionBank();
    CAudioPresetBank factoryBank();

    // ---- A/B ----
    // Captures the live values into the shadow (created on first use).
    void updateShadowPreset();
    // Swaps the live values with the shadow (the program takes the shadow's name); without a
    // shadow it only creates one from the live values.
    CErrorPtr exchangeShadowPreset();
    bool hasShadowPreset();

    // ---- Application data ----
    // id followed by ":Default": the name of the default preset and of its data set.
    CText defaultPresetName() const;
    // Stores the live values as the default preset of new instances (global data).
    CErrorPtr storeDefaultPreset();
    // The bank list kept under "store-name" (empty when nothing is stored); on failure banks
    // is unchanged.
    CErrorPtr loadPresetList(std::vector<CAudioPresetBank>& banks);
    CErrorPtr savePresetList(const std::vector<CAudioPresetBank>& banks);
    // Decodes the content of a bank-list block; all of it must be consumed. On failure banks
    // is unchanged.
    static CErrorPtr decodePresetList(const std::uint8_t* data, std::size_t size,
                                      std::vector<CAudioPresetBank>& banks);

    // ---- Listeners ----
    void addListener(CAudioParamRegistryListener* listener);
    void removeListener(CAudioParamRegistryListener* listener);

    CCriticalSection& registryLock() const { return m_lock; }

    // The text before the first ":" (empty when there is none) and the text after it (the whole
    // name when there is none).
    static CText idPrefixOf(const CText& presetName);
    static CText visibleNameOf(const CText& presetName);

private:
    struct CSlot
    {
        CAudioParam* param = nullptr;
        CText fullPath;
        CText storedPath;
    };
    struct CRemapPair
    {
        CText from;
        CText to;
    };

    // Resolves the collector when init could not (it may be created after the registry).
    CErrorPtr requireCollector();
    // Rebuilds the map when the collector's parameters changed (registry lock held).
    void refreshMap();
    CErrorPtr loadFactoryBank();
    void loadDefaultPreset();
    // Lock held for these.
    CAudioPreset captureLocked(const CText& name, std::int32_t group);
    CErrorPtr checkPreset(const CAudioPreset& preset, std::int32_t group,
                          const char* incompatibleText);
    void applyChecked(const CAudioPreset& preset, std::int32_t group);
    // Runs change between an undo capture before and after (of the registry's parameters and
    // the name parameter, or of the name parameter alone); without an undo history it only
    // runs change. The caller holds the history's lock.
    void recorded(const CText& label, const std::function<void()>& change, bool nameOnly = false);
    CAudioParam* nameParam(CText* path);
    void publishProgramName(const CText& presetName);
    // The current program of a master registry, or null.
    CAudioPreset* currentLocked();
    void refreshCurrentProgram();
    CText currentNameLocked();
    void notifyListeners();

    CErrorPtr badIndex(const char* method, std::int32_t index) const;
    CErrorPtr badGroup(std::int32_t group) const;
    CErrorPtr notMaster(const char* method) const;
    CErrorPtr noApplicationData(const char* method) const;
    CErrorPtr noStoreName(const char* method) const;

    mutable CCriticalSection m_lock;
    CText m_hierarchy;
    CText m_defNamePrefix;
    std::vector<CRemapPair> m_remap;
    bool m_isMaster = false;
    bool m_isEnumerated = false;
    bool m_isElementEnum = false;
    CText m_id;
    CText m_presetNaming;
    CText m_presetNameParam;
    CText m_groupNamesParam;
    CText m_file;
    CText m_storeName;
    CText m_collectorPath;
    CText m_undoPath;
    CTarget<CAudioParamCollector> m_collector;
    CTarget<CAudioParamUndo> m_undo;

    std::map<CText, CSlot> m_map;
    bool m_mapBuilt = false;
    std::uint32_t m_mapGeneration = 0;
    std::optional<CAudioPreset> m_pendingDefault;

    CAudioPresetBank m_session;
    CAudioPresetBank m_factory;
    std::int32_t m_current = 0;
    std::optional<CAudioPreset> m_shadow;
    std::vector<CAudioParamRegistryListener*> m_listeners;
    bool m_changed = false;

    CAudioParamRegistryNameBridge m_nameBridge;
};

} // namespace zel
