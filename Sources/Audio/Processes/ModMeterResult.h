#pragma once
// CModMeterResult and CModMeterSource: how the meter modules (CModMeter, CModMeterCorr) publish
// what they measure, and how the visualisation side finds it.
//
// CModMeterResult is one published result: a small kernel context slot holding the result
// record that a publishing kernel writes (level and peak for a level meter, the correlation
// for a correlation meter), marked notify-on-use before every publishing call, with two flag
// bytes registered on the slot: the result's own flag and its process's flag. The publishing
// kernel is the first call that names the slot in a block, so both flags go to 1 exactly once
// per published record; whoever reads the record clears the flags.
//
// CModMeterSource is the interface both meter processes implement beside CAudioProcessBase.
// A collector resolves the meter's object path (for example "plugin.modMain.modMeterOut"),
// casts the process to CModMeterSource, and then per block
//   - checks processFlag(): 1 when any result of the process was published since it was
//     cleared;
//   - walks meterResultCount() / meterResult(i): the slot reference (read the record through
//     the context's data()), the record's field count, the result's own flag, the channel it
//     measures (the first channel of a pair for correlation) and whether the display shows
//     the values inverted;
//   - clears the flags it consumed.
// Results live from the process's build to its destruction; their order is by channel.
// Neither class is thread-safe: everything runs on the audio thread.

#include "Audio/AudioProcessTerminal.h"
#include "Core/Error.h"

#include <cstdint>

namespace zel
{

class CDCDAWContextObject;

struct CModMeterResultInfo
{
    std::uint32_t ref = 0xFFFFFFFFu; // the result record's slot (offset 0)
    std::int32_t fieldCount = 0;     // 64-bit fields of the record
    std::uint8_t* flag = nullptr;    // the result's own notification flag
    std::int32_t channel = 0;
    bool displayInverted = false; // the display shows the values inverted
};

class CModMeterResult
{
public:
    CModMeterResult() = default;
    CModMeterResult(const CModMeterResult&) = delete;
    CModMeterResult& operator=(const CModMeterResult&) = delete;

    // Takes the record's slot (fieldCount doubles, zeroed) and registers the own flag and
    // processFlag on it.
    CErrorPtr start(CDCDAWContextObject& context, std::int32_t fieldCount,
                    std::uint8_t* processFlag);
    // Marks the slot notify-on-use: the next kernel call naming it raises both flags.
    CErrorPtr arm(CDCDAWContextObject& context);
    // Gives the slot back (safe when start failed or never ran).
    void release(CDCDAWContextObject& context);

    bool isTaken() const { return m_taken; }
    std::uint32_t ref() const { return m_ref; }
    std::int32_t fieldCount() const { return m_fieldCount; }
    std::uint8_t& flag() { return m_flag; }

private:
    std::uint32_t m_ref = 0xFFFFFFFFu;
    std::int32_t m_fieldCount = 0;
    bool m_taken = false;
    std::uint8_t m_flag = 0;
};

class CModMeterSource
{
public:
    virtual ~CModMeterSource() = default;

    virtual std::size_t meterResultCount() = 0;
    virtual CModMeterResultInfo meterResult(std::size_t index) = 0;
    // Raised with every result of the process.
    std::uint8_t& processFlag() { return m_processFlag; }

private:
    std::uint8_t m_processFlag = 0;
};

// A meter process: the terminal of its modules, offering their results in module order.
// Module provides resultCount(), result(i), channelOf(i) and isDisplayInverted().
template <class Module>
class CModMeterProcess : public CAudioProcessTerminal<Module>, public CModMeterSource
{
public:
    std::size_t meterResultCount() override
    {
        std::size_t count = 0;
        for (std::size_t i = 0; i < this->moduleCount(); ++i)
            count += this->module(i).resultCount();
        return count;
    }
    CModMeterResultInfo meterResult(std::size_t index) override
    {
        for (std::size_t i = 0; i < this->moduleCount(); ++i)
        {
            Module& m = this->module(i);
            if (index >= m.resultCount())
            {
                index -= m.resultCount();
                continue;
            }
            CModMeterResult& result = m.result(index);
            return {result.ref(), result.fieldCount(), &result.flag(), m.channelOf(index),
                    m.isDisplayInverted()};
        }
        return {};
    }
};

} // namespace zel
