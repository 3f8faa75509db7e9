#pragma once
// CModOutput ("audio:modOutput", definition CModOutputDef): the output stage of the graph. It
// issues no kernels. Inside a container it is a plain connection point (input port p passes to
// output port p by reference). As the instance's output stage it collects the signal of a
// source process (attachSource) and writes it into the host's output buffers: 64-bit or 32-bit
// samples, one buffer per channel or one interleaved buffer, for the host's channel count;
// host channels that the graph does not feed get silence. It is not the graph runner: render
// runs the given process first, then writes.
//
// Not thread-safe: the format is set between blocks on the thread that processes.

#include "Audio/AudioProcessBase.h"
#include "Audio/AudioProcessDef.h"

namespace zel
{

class CModOutput : public CAudioProcessBase
{
public:
    static void registerClass(CClassInfo& info);

    // Connects output port 0 of source, channel by channel, to this stage's input port 0.
    CErrorPtr attachSource(CAudioProcessBase& source);

    // The host's sample format and channel count.
    void setOutputFormat(bool is64Bit, bool interleaved, std::int32_t channels);
    bool is64Bit() const { return m_64; }
    bool isInterleaved() const { return m_interleaved; }
    std::int32_t hostChannelCount() const { return m_hostChannels; }

    // Runs graph (when not null) for n frames, then writes n frames at frame offset `offset`
    // into outputs (per channel pointers, or outputs[0] interleaved; null pointers are
    // skipped). Whatever the stage cannot fill is written as silence.
    CErrorPtr render(CAudioProcessBase* graph, std::int32_t n, void* const* outputs,
                     std::int32_t offset);
    // True when a NaN or an infinity reached this stage since the last call (whether or not
    // it was written to a host buffer); clears the flag.
    bool takeNonFinite();
    // Writes n frames of silence at frame offset `offset` into every host channel.
    void writeSilence(void* const* outputs, std::int32_t n, std::int32_t offset) const;

private:
    void write(void* const* outputs, std::int32_t channel, std::int32_t frame, const double* data,
               std::int32_t count) const;

    bool m_64 = true;
    bool m_interleaved = false;
    std::int32_t m_hostChannels = 2;
    bool m_nonFinite = false;
};

class CModOutputDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
