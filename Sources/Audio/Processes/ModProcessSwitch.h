#pragma once
// CModProcessSwitch ("audio:modProcessSwitch", definition CModProcessSwitchDef): a process that
// holds alternative sub-processes and runs the one its index selects. The definition's
// "process-list" names the alternatives as items "index:process" separated by ';' (or ','):
// the index a non-negative integer, unique in the list; the process a child definition of the
// switch, written as ".name" or "name" (or any object path to a process definition). Every
// listed definition is instantiated once as a child process named after it.
//
// Selection: parameter input 0 (rounded half away from zero) picks the item with that index;
// unbound, "def-index" stands for it. When no item has the index, the child named
// "def-child-name" runs, or, without one, the input passes through unchanged. Only the selected
// child runs (all children still take their parameter changes); a change of selection is
// blended per channel over "xfade-length" while both the old and the new choice run.
// "is-allpass-bank" is carried for the description (the alternatives are all-pass stages with
// the same magnitude response); it does not change the switching.
//
// Audio passes by reference into the selected child's input port 0 and out of its output
// port 0. Not thread-safe: built on one thread, run on the audio thread.

#include "Audio/AudioCrossfade.h"
#include "Audio/AudioProcessBase.h"
#include "Audio/AudioProcessDef.h"

#include <vector>

namespace zel
{

class CModProcessSwitchDef : public CAudioProcessDefBase
{
public:
    struct CItem
    {
        std::int32_t index = 0;
        CText name;                                // as written in the list
        const CAudioProcessDefBase* def = nullptr; // resolved by initChilds
    };

    static void registerClass(CClassInfo& info);
    // Parses "process-list" (item syntax and indices).
    CErrorPtr init() override;
    // Resolves the items' processes among the loaded children.
    CErrorPtr initChilds() override;
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;

    const std::vector<CItem>& items() const { return m_items; }
    const CText& processList() const { return m_processList; }
    const CText& defChildName() const { return m_defChildName; }
    std::int32_t defIndex() const { return m_defIndex; }
    bool isAllpassBank() const { return m_allpassBank; }

    CErrorPtr onProcessList(const CText& value);
    CErrorPtr onDefChildName(const CText& value);
    CErrorPtr onDefIndex(const CText& value);

private:
    CErrorPtr parseList();

    CText m_processList;
    CText m_defChildName;
    std::int32_t m_defIndex = 0;
    bool m_allpassBank = false;
    std::vector<CItem> m_items;
};

class CModProcessSwitch : public CAudioProcessBase
{
public:
    ~CModProcessSwitch() override;
    static void registerClass(CClassInfo& info);

    // Fails with "Audio process def of invalid class supplied." for another definition class.
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    void flush() override;
    CErrorPtr process(std::int32_t length) override;
    CErrorPtr connect() override;
    // Reads a changed index and starts the blend to the new choice.
    CErrorPtr updateBlock() override;
    std::int64_t pendingChangePosition() const override;

    // The child processes in the order of their first listing.
    const std::vector<CAudioProcessBase*>& processes() const { return m_children; }
    // The running choice: an index into processes(), -1 for the pass-through.
    std::int32_t selected() const { return m_selected; }
    bool isFading() const { return m_fading; }

private:
    std::int32_t choose() const;
    CErrorPtr collect(std::int32_t choice, std::size_t channel, std::int32_t n, std::uint32_t& ref,
                      bool& owned);

    const CModProcessSwitchDef* m_switchDef = nullptr;
    std::vector<CAudioProcessBase*> m_children;
    std::vector<std::int32_t> m_itemChild;   // per item: index into m_children
    std::vector<CAudioOutputPort> m_feeds;   // per child: into its input port 0
    std::vector<CAudioInputPort> m_collects; // per child: from its output port 0
    std::vector<CAudioCrossfade> m_fades;    // per channel
    std::vector<std::uint32_t> m_inRefs;     // per channel, current sub-block
    std::vector<char> m_inOwned;
    std::int32_t m_selected = -1;
    std::int32_t m_previous = -1;
    bool m_fading = false;
    double m_fadeLength = 0.0;
};

} // namespace zel
