#pragma once
// CModChannelSink and CModChannelFade: the plumbing of the modules that move signals between
// channels (mid/side coding and weighting, routing). Such a module renders all channels of its
// process at once from one configuration; it renders either straight into the process's
// outputs (direct sink) or, while a structural change is being crossfaded, twice into scratch
// buffers (old and new configuration), which CModChannelFade then blends channel by channel
// into the outputs. They are not modules themselves and hold no parameters.
//
// A sink's references are pool references; scratch references belong to the sink and are
// released by finish(). Not thread-safe: audio thread (start and stop at build time).

#include "Audio/AudioCrossfade.h"
#include "Audio/AudioProcessTerminal.h"

#include <cstdint>
#include <vector>

namespace zel
{

class CModChannelSink
{
public:
    // scratch null: direct into the block's output port 0; otherwise one scratch reference
    // per channel (channelCount entries) that finish() releases.
    CModChannelSink(CAudioModuleBlock& block, std::uint32_t* scratch);
    ~CModChannelSink();
    CModChannelSink(const CModChannelSink&) = delete;
    CModChannelSink& operator=(const CModChannelSink&) = delete;

    CAudioModuleBlock& block() const { return m_block; }
    // Input port 0 of a channel; a silent buffer when nothing is connected.
    CErrorPtr input(std::int32_t channel, std::uint32_t& ref);
    // A fresh writable buffer for a channel's output.
    CErrorPtr target(std::int32_t channel, std::uint32_t& ref);
    // The channel's output is its input, unchanged.
    CErrorPtr pass(std::int32_t channel);
    CErrorPtr issue(const CDCDAWKernel& kernel, double x, std::initializer_list<std::uint32_t> refs)
    {
        return m_block.issue(kernel, x, refs);
    }
    // Releases the silent buffer (scratch references stay with their owner).
    void finish();

private:
    CErrorPtr takeScratch(std::uint32_t& ref);

    CAudioModuleBlock& m_block;
    std::uint32_t* m_scratch;
    std::uint32_t m_silence = 0xFFFFFFFFu;
};

class CModChannelFade
{
public:
    // Build time: one blend state and two scratch slots per channel.
    void prepare(std::int32_t channels);
    // Starts a blend of every channel (or restarts a running one).
    CErrorPtr start(CDCDAWContextObject& context, double seconds, double sampleRate);
    bool isRunning() const { return m_running; }
    // Scratch reference arrays for rendering the new and the old configuration.
    std::uint32_t* newRefs() { return m_new.data(); }
    std::uint32_t* oldRefs() { return m_old.data(); }
    // Resets the scratch arrays before rendering.
    void clearRefs();
    // Blends the rendered scratch buffers into the block's outputs and releases them; stops
    // running once every channel covered its blend.
    CErrorPtr blend(CAudioModuleBlock& block);

    // One block of a channel-moving module: renderNew(sink) straight into the outputs, or,
    // while a blend runs, renderNew and renderOld into scratch buffers, blended into the
    // outputs. The first error wins; the scratch buffers are released either way.
    template <class RenderNew, class RenderOld>
    CErrorPtr run(CAudioModuleBlock& block, RenderNew&& renderNew, RenderOld&& renderOld)
    {
        if (!m_running)
        {
            CModChannelSink sink(block, nullptr);
            return renderNew(sink);
        }
        clearRefs();
        CErrorPtr err;
        {
            CModChannelSink fresh(block, newRefs());
            CModChannelSink old(block, oldRefs());
            err = renderNew(fresh);
            if (!err)
                err = renderOld(old);
        }
        CErrorPtr blendErr = blend(block);
        return err ? std::move(err) : std::move(blendErr);
    }
    void release(CDCDAWContextObject& context);

private:
    std::vector<CAudioCrossfade> m_fades;
    std::vector<std::uint32_t> m_new;
    std::vector<std::uint32_t> m_old;
    bool m_running = false;
};

} // namespace zel
