#include "Audio/VST/AudioWrapperVSTEditor.h"

#include "Audio/VST/AudioWrapperVST.h"

#include <algorithm>
#include <limits>

namespace
{

std::int16_t toCoordinate(std::int32_t value)
{
    return static_cast<std::int16_t>(
        std::clamp<std::int32_t>(value, 0, std::numeric_limits<std::int16_t>::max()));
}

} // namespace

CAudioWrapperVSTEditor::CAudioWrapperVSTEditor(CAudioWrapperVST* effect, std::int32_t width,
                                               std::int32_t height)
    : zel::AEffEditor(effect)
{
    setSize(width, height);
}

bool CAudioWrapperVSTEditor::getRect(zel::vst::ERect** rect)
{
    *rect = &m_rect;
    return true;
}

bool CAudioWrapperVSTEditor::open(void* parentWindow)
{
    zel::AEffEditor::open(parentWindow);
    // No view tree can be built yet: report failure and stay closed.
    zel::AEffEditor::close();
    return false;
}

bool CAudioWrapperVSTEditor::onWheel(float distance)
{
    (void)distance;
    return false;
}

void CAudioWrapperVSTEditor::setSize(std::int32_t width, std::int32_t height)
{
    m_rect.top = 0;
    m_rect.left = 0;
    m_rect.bottom = toCoordinate(height);
    m_rect.right = toCoordinate(width);
}
