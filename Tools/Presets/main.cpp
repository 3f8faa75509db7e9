// kelv-presets: builds a carried preset collection from its readable source.
// Usage: kelv-presets bank SOURCE OUTPUT   the factory bank: a block "abnk" holding the bank
//                                          "Bank" of the master registry's presets
//        kelv-presets list SOURCE OUTPUT   the default routing presets: a block "alst" holding
//                                          one bank with an empty name of the routing
//                                          registry's presets
// The tool builds one plug-in instance from the carried description, sets every preset's
// values through the live parameters and captures them with the registry (see
// CPresetSource). The output is written only on success; errors go to standard error and the
// exit status is 1.

#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioPresetBank.h"
#include "Core/MemoryWriteBuffer.h"
#include "Harness/PluginDriver.h"
#include "Presets/PresetSource.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace
{
int fail(const std::string& text)
{
    std::fprintf(stderr, "kelv-presets: %s\n", text.c_str());
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc == 4 ? argv[1] : "";
    if (mode != "bank" && mode != "list")
    {
        std::fprintf(stderr, "usage: kelv-presets bank|list SOURCE OUTPUT\n");
        return 2;
    }
    std::vector<kelvtools::SPresetSource> sources;
    if (const zel::CErrorPtr err = kelvtools::CPresetSource::parseFile(argv[2], sources))
        return fail(err->text());

    kelvtest::CPluginDriver driver(48000.0, 2);
    if (driver.error())
        return fail("cannot build the instance: " + driver.error()->text());
    zel::CAudioParamRegistry* registry =
        driver.registry(mode == "bank" ? "param-registry" : "routing-registry");
    if (registry == nullptr)
        return fail("the instance has no registry for this collection");

    zel::CAudioPresetBank bank;
    bank.name = zel::CText(mode == "bank" ? "Bank" : "");
    for (const kelvtools::SPresetSource& source : sources)
    {
        zel::CAudioPreset preset;
        if (const zel::CErrorPtr err = kelvtools::CPresetSource::build(*registry, source, preset))
            return fail(std::string(argv[2]) + ": " + err->text());
        bank.presets.push_back(std::move(preset));
    }

    zel::CMemoryWriteBuffer block;
    const zel::CErrorPtr err = mode == "bank" ? bank.saveBlock(block)
                                              : zel::CAudioPresetBank::saveListBlock(block, {bank});
    if (err)
        return fail(err->text());
    const std::vector<std::uint8_t> bytes = block.toVector();
    const std::string outPath = argv[3];
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
    {
        std::remove(outPath.c_str());
        return fail("cannot write '" + outPath + "'");
    }
    return 0;
}
