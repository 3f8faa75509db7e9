#pragma once
// CApplicationData: data that outlives a plug-in instance, shared by the instances of a process
// and stored in files under the user's application-data folder. CGlobalData holds what every
// plug-in of the maker shares (editor preferences); CLocalData what the instances of one
// plug-in type share. Neither is an object of a tree: instances reach them through
// CApplicationDataBridge links, and those that registered as update listeners hear every
// change as an "update" event.
//
// Folder layout (both folders are "/"-separated, without a trailing separator):
//   <user app data>/Ardovin/Audio Plug-Ins/          the family folder
//   <user app data>/Ardovin/Audio Plug-Ins/Data/     the data folder of both kinds
// where <user app data> is the platform layer's per-user folder ($XDG_CONFIG_HOME or
// ~/.config on Linux). Every data set lives in one file of the data folder named by the
// file-name prefix followed by the data set's name, the same name as its built-in default
// resource: "AppDataGlobal_" for the global data, "AppData" + the plug-in's app-name + "_"
// for the local data (so "AppDataKelvatrone_settings" is never seen by another plug-in type).
// Characters other than letters, digits, " ", "-", "_" and "." in a name are written as "%"
// and two hexadecimal digits of each UTF-8 byte. A data set named "file|resource" is stored
// in the file at that path relative to the data folder ("../routing-presets" is the family
// folder's routing-presets) and defaults to the named built-in resource.
//
// Data sets. Each is created on first request (under the lock), loaded from its file on first
// use, kept in memory and stored as ONE compressed block. A data set whose file does not exist
// starts from its built-in default resource, or empty. The data set "settings" holds the
// named text values (shared attributes, global parameters) in a block "adat":
//   int32 format version (1), int32 value count N, N x (text name, text value)
// with the stream encodings of InputStream.h; names are unique and in ascending order.
// Every other data set holds one block of the caller's choice (for example a bank list
// "alst") whose content the caller encodes. Changing these layouts breaks stored data.
//
// Saving: every change is written to its file at once (the data is small and changes rarely,
// and nothing is lost when the host process ends abruptly); save() writes what an earlier
// failure left unsaved and the destructor tries once more. A file that cannot be read (damaged
// block, wrong identifier) fails with the stream's errors and leaves the memory content as it
// was. When the user's folder cannot be determined, the data lives in memory only; the folder
// is asked for once.
//
// Locking: every access takes the object's lock (a critical section, spin count 4000).
// "update" events are delivered on the writer's thread while the lock is held, so a listener
// may read and write the data from its handler but must not wait for another thread that
// could be waiting for this data.

#include "Core/BlockId.h"
#include "Core/Bridge.h"
#include "Core/ByteBuffer.h"
#include "Core/Error.h"
#include "Core/Text.h"
#include "Platform/CriticalSection.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace zel
{

class CObject;

class CApplicationData : public CBridgeBase
{
public:
    static constexpr const char* kMakerFolder = "Ardovin";
    static constexpr const char* kFamilyFolder = "Audio Plug-Ins";
    static constexpr const char* kDataFolder = "Data";
    // The data set of the named text values and its block.
    static constexpr const char* kSettingsDataSet = "settings";
    static constexpr std::uint32_t kSettingsBlockId = makeBlockId("adat");
    static constexpr std::int32_t kSettingsVersion = 1;

    CApplicationData(const CApplicationData&) = delete;
    CApplicationData& operator=(const CApplicationData&) = delete;
    // Detaches the bridges, then writes what is still unsaved (errors go to the diagnostic
    // log).
    ~CApplicationData() override;

    const CText& makerFolderName() const { return m_makerFolder; }
    const CText& familyFolderName() const { return m_familyFolder; }
    const CText& filePrefix() const { return m_prefix; }
    // The data folder; empty when the user's folder cannot be determined.
    CText dataFolder();
    // The file that holds a data set; empty in memory-only mode.
    CText dataSetFile(const CText& dataSet);

    // ---- Named text values (data set "settings") ----
    // value receives the stored value, or defaultValue when there is none (found false).
    // A failed first load is reported once; the value then comes from memory.
    CErrorPtr readValue(const CText& name, CText& value, const CText& defaultValue = CText(),
                        bool* found = nullptr);
    // Stores value, writes the file and announces "update" to every listener but origin.
    // Writing the value already stored does nothing.
    CErrorPtr writeValue(const CText& name, const CText& value, const CBridge* origin = nullptr);

    // ---- Data sets of one block ----
    // The content of the data set's block; found is false (and data empty) when there is none.
    // The block in the file or resource must carry id.
    CErrorPtr readData(const CText& dataSet, std::uint32_t id, CByteBuffer& data, bool& found);
    // Replaces the data set's block, writes the file and announces "update".
    CErrorPtr writeData(const CText& dataSet, std::uint32_t id, const void* data, std::size_t size,
                        const CBridge* origin = nullptr);

    // Reads the data set's file again (or its default when there is no file). On failure the
    // memory content is unchanged.
    CErrorPtr reload(const CText& dataSet);
    // Writes every data set that has unsaved changes.
    CErrorPtr save();
    // Whether any data set has unsaved changes.
    bool isModified();

    // ---- "update" listeners ----
    // While registered, owner receives "update" (attributes "data-set", "data-name", "value")
    // after every change. bridge identifies the registration and must be attached to this
    // object; the bridge's owner removes it before it goes away.
    void addUpdateListener(const CBridge& bridge, CObject& owner);
    void removeUpdateListener(const CBridge& bridge);
    std::size_t updateListenerCount();

    CCriticalSection& criticalSection() { return m_lock; }

protected:
    explicit CApplicationData(CText prefix);

private:
    struct CDataSet;

    CDataSet& dataSetOf(const CText& name);
    void resolveFolders();
    CErrorPtr ensureLoaded(CDataSet& set);
    CErrorPtr loadInto(const CDataSet& set, CDataSet& staging);
    CErrorPtr decodeSettings(const CByteBuffer& plain, std::map<CText, CText>& values);
    CErrorPtr saveDataSet(CDataSet& set);
    CErrorPtr announce(const CText& dataSet, const CText& name, const CText& value,
                       const CBridge* origin);

    CText m_makerFolder;
    CText m_familyFolder;
    CText m_prefix;
    CCriticalSection m_lock;
    // Folders, asked for once (m_foldersResolved); empty data folder: memory only.
    bool m_foldersResolved = false;
    CText m_userFolder;
    CText m_commonFolder;
    CText m_dataFolder;
    std::map<CText, std::unique_ptr<CDataSet>> m_dataSets;
    std::map<const CBridge*, CObject*> m_listeners;
};

// The data of every plug-in of the maker.
class CGlobalData : public CApplicationData
{
public:
    static constexpr const char* kPrefix = "AppDataGlobal_";
    CGlobalData();

    // The process's global data (installed by the application object), or null.
    static CGlobalData* current();
    static CGlobalData* setCurrent(CGlobalData* data);
};

// The data of one plug-in type, told apart by its app-name.
class CLocalData : public CApplicationData
{
public:
    explicit CLocalData(const CText& appName);
    const CText& appName() const { return m_appName; }

    // The process's local data (installed by the application object), or null.
    static CLocalData* current();
    static CLocalData* setCurrent(CLocalData* data);

private:
    CText m_appName;
};

// Path helpers of the application data, exposed for tests.
namespace appdata
{
// name with every character outside [A-Za-z0-9 _.-] written as %XX per UTF-8 byte.
CText escapeFileName(const CText& name);
// Removes "." segments and folds "x/.." pairs; a leading ".." that cannot be folded stays.
CText normalisePath(const CText& path);
} // namespace appdata

// A bridge to application data whose owner hears its "update" events while connected.
template <class Owner>
class CApplicationDataListenerBridge : public CApplicationDataBridge<Owner, CApplicationData>
{
public:
    using CApplicationDataBridge<Owner, CApplicationData>::CApplicationDataBridge;
    ~CApplicationDataListenerBridge() override { disconnect(); }

    // Attaches to data and registers the owner as an update listener; false when data is
    // null or no longer alive.
    bool connect(CApplicationData* data)
    {
        disconnect();
        if (this->owner() == nullptr || !this->attachData(data))
            return false;
        data->addUpdateListener(*this, *this->owner());
        return true;
    }
    // Unregisters and detaches; safe while the data is being destroyed on another thread.
    void disconnect()
    {
        {
            CBridge::CAccess access(*this);
            if (CApplicationData* data = this->dataOf(access))
                data->removeUpdateListener(*this);
        }
        this->detach();
    }
};

} // namespace zel
