#pragma once
// CAudioWrapperVSTEditor: the editor object of the VST effect as the host sees it: the
// rectangle it reports (the wrapper's window size) and the open/close/idle/wheel calls the
// host forwards. Building the view tree inside the host's window is not done yet, so open
// reports failure and the host shows no editor.
//
// This is not a view and owns no window.

#include "Audio/VST/AEffEditor.h"
#include "Audio/VST/VstAbi.h"

#include <cstdint>

class CAudioWrapperVST;

class CAudioWrapperVSTEditor : public zel::AEffEditor
{
public:
    CAudioWrapperVSTEditor(CAudioWrapperVST* effect, std::int32_t width, std::int32_t height);

    bool getRect(zel::vst::ERect** rect) override;
    bool open(void* parentWindow) override;
    // The wheel amount forwarded through the vendor-specific call; not handled yet.
    bool onWheel(float distance) override;

    // Stores a new size (top and left stay 0).
    void setSize(std::int32_t width, std::int32_t height);
    const zel::vst::ERect& rect() const { return m_rect; }

private:
    zel::vst::ERect m_rect{};
};
