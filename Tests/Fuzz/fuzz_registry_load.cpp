// Arbitrary bytes fed to a master parameter registry: as a preset record (activatePreset), as a
// bank record (activateBank) and as bank-list content (decodePresetList). The first byte picks
// the loader, the next two the program index and the group (-1, 0 or 1) of a preset. A failed
// load must leave every live value, the Session Bank and the list untouched.
#include "Audio/AudioParam.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioParamDef.h"
#include "Audio/AudioParamRegistry.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/Object.h"
#include "Core/TypeTable.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace
{

using Attrs = std::vector<std::pair<const char*, const char*>>;

zel::CObject* build(zel::CObject& parent, const char* tag, const char* name, const Attrs& attrs)
{
    zel::CObject* child = nullptr;
    if (parent.createChild(tag, name, false, child))
        std::abort();
    for (const auto& [attr, value] : attrs)
        if (child->setAttribute(attr, value))
            std::abort();
    if (child->init() || child->initTemplateChilds() || child->initChilds())
        std::abort();
    return child;
}

// A registry over a knob, a curve of pairs and a string list (all storable, two groups where
// it matters) and a persistent value, with three programs.
struct CFixture
{
    CFixture()
    {
        zel::CTypeEntry entry;
        (void)zel::findCreator("core:object", entry);
        static zel::CTypeRegistration types;
        if (zel::registerProductTypes(types))
            std::abort();
        root = zel::CObject::make<zel::CObject>();
        root->setRootName("r");
        build(*root, "audio:cvt-real", "real", {});
        build(*root, "audio:cvt-text", "text", {});
        collector = dynamic_cast<zel::CAudioParamCollector*>(
            build(*root, "audio:param-collector", "collector", {}));
        add("gain", 2,
            {{"element-size", "1"},
             {"converter", "/real"},
             {"min-values", "-60"},
             {"max-values", "12"},
             {"def-values", "0"},
             {"is-storable", "true"}});
        add("curve", 2,
            {{"element-size", "2"},
             {"converter", "/real"},
             {"converter2", "/real"},
             {"min-values", "20 -30"},
             {"max-values", "20000 30"},
             {"def-values", "100 0,1000 -6"},
             {"is-storable", "true"}});
        add("names", 1,
            {{"element-size", "1"},
             {"data-type", "string"},
             {"converter", "/text"},
             {"def-values", "L,R"},
             {"is-storable", "true"}});
        add("size", 1,
            {{"element-size", "1"},
             {"converter", "/real"},
             {"min-values", "0"},
             {"max-values", "10"},
             {"def-values", "1"},
             {"is-persistent", "true"}});
        registry =
            dynamic_cast<zel::CAudioParamRegistry*>(build(*root, "audio:param-registry", "registry",
                                                          {{"hierarchy", "plugin"},
                                                           {"def-name-remap", "plugin=audio"},
                                                           {"is-master", "true"},
                                                           {"id", "FUZZ"},
                                                           {"param-collector", "/collector"}}));
        zel::CAudioPresetBank bank;
        for (const char* name : {"FUZZ:A", "FUZZ:B", "FUZZ:C"})
            bank.presets.push_back(registry->capturePreset(name));
        zel::CMemoryWriteBuffer out;
        if (bank.save(out))
            std::abort();
        initialBank = out.toVector();
    }

    void add(const char* name, std::int32_t groups, const Attrs& attrs)
    {
        auto* def = dynamic_cast<zel::CAudioParamDef*>(build(*root, "audio:param", name, attrs));
        params.push_back(std::make_unique<zel::CAudioParam>(def->sharedInfo(), groups));
        if (collector->addParam(zel::CText("plugin.") + zel::CText(name), *params.back()))
            std::abort();
    }

    // Back to the same state before every input.
    void reset()
    {
        for (auto& param : params)
            param->resetToDefaults();
        zel::CMemoryReader in(initialBank.data(), initialBank.size());
        if (registry->activateBank(in))
            std::abort();
    }

    std::string state() const
    {
        std::string out;
        for (const auto& param : params)
            for (std::int32_t g = 0; g < param->groupCount(); ++g)
            {
                for (double v : param->elements(g))
                    out += std::to_string(v) + " ";
                if (param->info().isItemType())
                    for (std::int32_t e = 0; e < param->elementCount(g); ++e)
                        out += param->string(g, e).toUtf8() + "|";
                out += "; ";
            }
        zel::CMemoryWriteBuffer bank;
        (void)registry->sessionBank().save(bank);
        const std::vector<std::uint8_t> bytes = bank.toVector();
        return out + std::string(bytes.begin(), bytes.end());
    }

    zel::CObjectPtr root;
    zel::CAudioParamCollector* collector = nullptr;
    zel::CAudioParamRegistry* registry = nullptr;
    std::vector<std::unique_ptr<zel::CAudioParam>> params;
    std::vector<std::uint8_t> initialBank;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CFixture fixture;
    if (size < 3)
        return 0;
    fixture.reset();
    const std::string before = fixture.state();
    const std::int32_t index = data[1] % 5 - 1;
    const std::int32_t group = data[2] % 3 - 1;
    zel::CMemoryReader in(data + 3, size - 3);
    zel::CErrorPtr err;
    switch (data[0] % 3)
    {
    case 0:
        err = fixture.registry->activatePreset(in, index, group);
        break;
    case 1:
        err = fixture.registry->activateBank(in);
        break;
    default:
    {
        std::vector<zel::CAudioPresetBank> banks(1);
        banks[0].name = "kept";
        err = zel::CAudioParamRegistry::decodePresetList(data + 3, size - 3, banks);
        if (err && (banks.size() != 1 || banks[0].name != zel::CText("kept")))
            std::abort();
        break;
    }
    }
    if (err && fixture.state() != before)
        std::abort();
    return 0;
}
