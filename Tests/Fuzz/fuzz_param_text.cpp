// Arbitrary text through every converter's parsers and formatters, and through the default
// value grammar of a two-value parameter description. The first byte picks the element's
// range orientation and the formatting mode; the rest is the text (8-bit units).
#include "Audio/AudioParamInfo.h"
#include "Audio/Converters/Converters.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{

struct CConverters
{
    std::vector<zel::CObjectPtr> owned;
    std::vector<zel::CAudioParamConverter*> all;

    template <class T>
    void add(std::initializer_list<std::pair<const char*, const char*>> attrs)
    {
        zel::TObjectPtr<T> converter = zel::CObject::make<T>();
        converter->setRootName("cvt");
        for (const auto& [name, value] : attrs)
            (void)converter->setAttribute(name, value);
        (void)converter->init();
        all.push_back(converter.get());
        owned.push_back(zel::CObjectPtr(converter.release()));
    }

    CConverters()
    {
        add<zel::CAudioParamConverterBW>({});
        add<zel::CAudioParamConverterEnum>({{"state-names", "Off;On|O;Automatic"}});
        add<zel::CAudioParamConverterFreq>({});
        add<zel::CAudioParamConverterGain>({{"decimals", "2"}});
        add<zel::CAudioParamConverterPan>({});
        add<zel::CAudioParamConverterPercent>({});
        add<zel::CAudioParamConverterRatio>({{"decimals", "1"}});
        add<zel::CAudioParamConverterReal>({{"decimals", "3"}});
        add<zel::CAudioParamConverterText>({});
        add<zel::CAudioParamConverterTime>({{"scale", "0.001"}});
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CConverters converters;
    if (size < 1)
        return 0;
    const std::uint8_t mode = data[0];
    const zel::CText text(std::string(reinterpret_cast<const char*>(data + 1), size - 1));

    zel::CAudioParamInfo info;
    info.elementSize = 1;
    info.minValues = {(mode & 1) ? 20.0 : 0.5};
    info.maxValues = {(mode & 1) ? 0.5 : 20.0};
    zel::CAudioParamData items;
    for (zel::CAudioParamConverter* converter : converters.all)
    {
        bool ok = false;
        const double value = converter->textToValue(info, 0, text, &ok);
        (void)converter->textToValueRaw(info, 0, text, &ok);
        (void)converter->valueToText(info, 0, value, (mode >> 1) % 3, &items);
        (void)converter->valueToNorm(info, 0, value);
    }

    zel::CAudioParamInfo curve;
    curve.elementSize = 2;
    curve.converters = {converters.all[2], converters.all[3]};
    curve.minValues = {20.0, 0.001};
    curve.maxValues = {20000.0, 2.0};
    (void)curve.parseDefValues(text, "fuzz");
    return 0;
}
