#include "Audio/AudioParamDef.h"

#include "Core/Numbers.h"

#include <string>

namespace zel
{

CAudioParamDef::CAudioParamDef() : m_info(std::make_shared<CAudioParamInfo>()) {}

void CAudioParamDef::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
}

CErrorPtr CAudioParamDef::readFlag(const char* name, bool& out) const
{
    out = false;
    const CText text = attribute(name);
    if (!text.empty() && !parseBoolean(text, out))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamDef_init_InvalidFlag",
                         "Invalid boolean value '%1' for '%2'.", {text.toUtf8(), name});
    return nullptr;
}

CErrorPtr CAudioParamDef::init()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CObject::init(), owner);
    CAudioParamInfo& info = *m_info;

    const CText sizeText = attribute("element-size");
    std::int32_t elementSize = 0;
    if (!parseInteger32(sizeText, elementSize) || elementSize < 1)
        return ZEL_ERROR(owner, "zelstr_CAudioParamDef_init_InvalidElementSize",
                         "Invalid element size %1 specified.", {sizeText.toUtf8()});
    info.elementSize = elementSize;

    info.dataType = CAudioParamInfo::parseDataType(attribute("data-type"));
    if (info.isItemType() && elementSize > 1)
        return ZEL_ERROR(owner, "zelstr_CAudioParamDef_init_InvalidNonFloatElementSize",
                         "Invalid element size %1 for non-float data specified.",
                         {std::to_string(elementSize)});

    ZEL_TRY(readFlag("is-single-group", info.singleGroup), owner);
    ZEL_TRY(readFlag("is-single-element", info.singleElement), owner);
    ZEL_TRY(readFlag("is-persistent", info.persistent), owner);
    info.storable = false;
    if (!info.persistent)
        ZEL_TRY(readFlag("is-storable", info.storable), owner);
    if (info.persistent || info.storable)
        info.global = true;
    else
        ZEL_TRY(readFlag("is-global", info.global), owner);
    ZEL_TRY(readFlag("is-discrete", info.discrete), owner);
    ZEL_TRY(readFlag("is-undo-disabled", info.undoDisabled), owner);

    info.visualName = attribute("visual-name");
    info.paramName = plainName();
    info.registryName = attribute("param-registry");

    ZEL_TRY(info.parseConverterNames(*this), owner);
    ZEL_TRY(info.convertMinMaxValues(attribute("min-values"), attribute("max-values"), fullName()),
            owner);
    ZEL_TRY(info.parseDefValues(attribute("def-values"), fullName()), owner);
    if (info.defaultSets.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioParamDef_init_NoDefaults",
                         "No default values specified.");
    info.defined = true;
    return nullptr;
}

} // namespace zel
