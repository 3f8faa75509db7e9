#include "Audio/AudioEnv.h"

#include "Core/Numbers.h"

namespace zel
{

void CAudioEnv::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioEnv::onVizFps>("viz-fps");
}

CErrorPtr CAudioEnv::onVizFps(const CText& value)
{
    double fps = 0.0;
    if (!parseNumber(value, fps) || !(fps > 0.0))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioEnv_onVizFps",
                         "Invalid frame rate '%1' specified.", {value.toUtf8()});
    m_vizFps = fps;
    return nullptr;
}

} // namespace zel
