// The plug-in library's only export: VSTPluginMain creates one effect for the host.
#include "Audio/VST/AudioWrapperVST.h"
#include "Audio/VST/PluginLibrary.h"
#include "Platform/ErrorWindow.h"
#include "Platform/FloatingPoint.h"

#if defined(_WIN32)
#define KELV_VST_EXPORT __declspec(dllexport)
#else
#define KELV_VST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KELV_VST_EXPORT zel::vst::AEffect* VSTPluginMain(zel::vst::HostCallback audioMaster);

extern "C" zel::vst::AEffect* VSTPluginMain(zel::vst::HostCallback audioMaster)
{
    if (audioMaster == nullptr)
        return nullptr;
    try
    {
        // A host that answers 0 to the version query is no usable host.
        if (audioMaster(nullptr, zel::vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
            return nullptr;
        zel::platform::CFpHostGuard fp;
        // Where the system does not start the library at load, start it now (once).
        if (!zel::CPluginLibrary::attach(nullptr))
            return nullptr;
        auto* effect = new CAudioWrapperVST(audioMaster);
        if (zel::CErrorPtr err = effect->init())
        {
            zel::platform::showErrorWindow(err->details());
            delete effect;
            return nullptr;
        }
        return effect->getAeffect();
    }
    catch (...)
    {
        return nullptr;
    }
}
