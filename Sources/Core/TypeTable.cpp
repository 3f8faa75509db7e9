#include "Core/TypeTable.h"

#include "Audio/AudioCCTable.h"
#include "Audio/AudioEnv.h"
#include "Audio/AudioExtParam.h"
#include "Audio/AudioInterfaceBase.h"
#include "Audio/AudioParamBinding.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioParamDef.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessLinkDef.h"
#include "Audio/AudioVizCollector.h"
#include "Audio/Converters/Converters.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Filters/AudioFilterBiquadGens.h"
#include "Audio/Filters/AudioFilterFIRLPGen.h"
#include "Audio/Filters/AudioFilterGenGroups.h"
#include "Audio/Filters/AudioFilterHBFGen.h"
#include "Audio/ParamFilters/AudioParamFilters.h"
#include "Audio/Processes/ModAbs.h"
#include "Audio/Processes/ModBypass.h"
#include "Audio/Processes/ModDecimator.h"
#include "Audio/Processes/ModDenorm.h"
#include "Audio/Processes/ModFilterFIR.h"
#include "Audio/Processes/ModFilterIIR.h"
#include "Audio/Processes/ModGain.h"
#include "Audio/Processes/ModInterpolator.h"
#include "Audio/Processes/ModKelvComp.h"
#include "Audio/Processes/ModLatencyUniformer.h"
#include "Audio/Processes/ModLeveler.h"
#include "Audio/Processes/ModMSCoder.h"
#include "Audio/Processes/ModMSMod.h"
#include "Audio/Processes/ModMeter.h"
#include "Audio/Processes/ModMeterCorr.h"
#include "Audio/Processes/ModMult.h"
#include "Audio/Processes/ModNode.h"
#include "Audio/Processes/ModOutput.h"
#include "Audio/Processes/ModProcessSwitch.h"
#include "Audio/Processes/ModResampler.h"
#include "Audio/Processes/ModRouter.h"
#include "Core/AttrDoubler.h"
#include "Core/Object.h"
#include "Core/SharedAttribute.h"
#include "Core/Timer.h"

namespace zel
{
namespace
{
// Sorted by tag (ordinal order); keep it sorted when adding rows.
// clang-format off
const CTypeTableRow kProductTypes[] = {
    {"audio:audio-env", &createObjectOf<CAudioEnv>, &CAudioEnv::registerClass},
    {"audio:cctable", &createObjectOf<CAudioCCTable>, &CAudioCCTable::registerClass},
    {"audio:cvt-bw", &createObjectOf<CAudioParamConverterBW>, &CAudioParamConverterBW::registerClass},
    {"audio:cvt-enum", &createObjectOf<CAudioParamConverterEnum>, &CAudioParamConverterEnum::registerClass},
    {"audio:cvt-freq", &createObjectOf<CAudioParamConverterFreq>, &CAudioParamConverterFreq::registerClass},
    {"audio:cvt-gain", &createObjectOf<CAudioParamConverterGain>, &CAudioParamConverterGain::registerClass},
    {"audio:cvt-pan", &createObjectOf<CAudioParamConverterPan>, &CAudioParamConverterPan::registerClass},
    {"audio:cvt-percent", &createObjectOf<CAudioParamConverterPercent>, &CAudioParamConverterPercent::registerClass},
    {"audio:cvt-ratio", &createObjectOf<CAudioParamConverterRatio>, &CAudioParamConverterRatio::registerClass},
    {"audio:cvt-real", &createObjectOf<CAudioParamConverterReal>, &CAudioParamConverterReal::registerClass},
    {"audio:cvt-text", &createObjectOf<CAudioParamConverterText>, &CAudioParamConverterText::registerClass},
    {"audio:cvt-time", &createObjectOf<CAudioParamConverterTime>, &CAudioParamConverterTime::registerClass},
    {"audio:dcdaw-context", &createObjectOf<CDCDAWContextObject>, &CDCDAWContextObject::registerClass},
    {"audio:ext-param", &createObjectOf<CAudioExtParam>, &CAudioExtParam::registerClass},
    {"audio:ext-param-list", &createObjectOf<CAudioExtParamList>, &CAudioExtParamList::registerClass},
    {"audio:fltgen-array", &createObjectOf<CAudioFilterGenArray>, &CAudioFilterGenArray::registerClass},
    {"audio:fltgen-array-item", &createObjectOf<CAudioFilterGenArrayItem>, &CAudioFilterGenArrayItem::registerClass},
    {"audio:fltgen-bypass", &createObjectOf<CAudioFilterBypassGen>, &CAudioFilterBypassGen::registerClass},
    {"audio:fltgen-firlp", &createObjectOf<CAudioFilterFIRLPGen>, &CAudioFilterFIRLPGen::registerClass},
    {"audio:fltgen-hbf", &createObjectOf<CAudioFilterHBFGen>, &CAudioFilterHBFGen::registerClass},
    {"audio:fltgen-magnus", &createObjectOf<CAudioFilterMagnusGen>, &CAudioFilterMagnusGen::registerClass},
    {"audio:fltgen-rbj", &createObjectOf<CAudioFilterRBJGen>, &CAudioFilterRBJGen::registerClass},
    {"audio:fltgen-serial", &createObjectOf<CAudioFilterSerialGen>, &CAudioFilterSerialGen::registerClass},
    {"audio:fltgen-serial-item", &createObjectOf<CAudioFilterSerialGenItem>, &CAudioFilterSerialGenItem::registerClass},
    {"audio:interface-base", &createObjectOf<CAudioInterfaceBase>, &CAudioInterfaceBase::registerClass},
    {"audio:interface-base-connector-vst", &createObjectOf<CAudioInterfaceBaseConnector>, &CAudioInterfaceBaseConnector::registerClass},
    {"audio:modAbs", &createObjectOf<CModAbsDef>, &CModAbsDef::registerClass},
    {"audio:modBypass", &createObjectOf<CModBypassDef>, &CModBypassDef::registerClass},
    {"audio:modDecimator", &createObjectOf<CModDecimatorDef>, &CModDecimatorDef::registerClass},
    {"audio:modDenorm", &createObjectOf<CModDenormDef>, &CModDenormDef::registerClass},
    {"audio:modFilterFIR", &createObjectOf<CModFilterFIRDef>, &CModFilterFIRDef::registerClass},
    {"audio:modFilterIIR", &createObjectOf<CModFilterIIRDef>, &CModFilterIIRDef::registerClass},
    {"audio:modGain", &createObjectOf<CModGainDef>, &CModGainDef::registerClass},
    {"audio:modInterpolator", &createObjectOf<CModInterpolatorDef>, &CModInterpolatorDef::registerClass},
    {"audio:modKelvComp", &createObjectOf<CModKelvCompDef>, &CModKelvCompDef::registerClass},
    {"audio:modLatencyUniformer", &createObjectOf<CModLatencyUniformerDef>, &CModLatencyUniformerDef::registerClass},
    {"audio:modLeveler", &createObjectOf<CModLevelerDef>, &CModLevelerDef::registerClass},
    {"audio:modMSCoder", &createObjectOf<CModMSCoderDef>, &CModMSCoderDef::registerClass},
    {"audio:modMSMod", &createObjectOf<CModMSModDef>, &CModMSModDef::registerClass},
    {"audio:modMeter", &createObjectOf<CModMeterDef>, &CModMeterDef::registerClass},
    {"audio:modMeterCorr", &createObjectOf<CModMeterCorrDef>, &CModMeterCorrDef::registerClass},
    {"audio:modMult", &createObjectOf<CModMultDef>, &CModMultDef::registerClass},
    {"audio:modNode", &createObjectOf<CModNodeDef>, &CModNodeDef::registerClass},
    {"audio:modOutput", &createObjectOf<CModOutputDef>, &CModOutputDef::registerClass},
    {"audio:modProcessSwitch", &createObjectOf<CModProcessSwitchDef>, &CModProcessSwitchDef::registerClass},
    {"audio:modResampler", &createObjectOf<CModResamplerDef>, &CModResamplerDef::registerClass},
    {"audio:modRouter", &createObjectOf<CModRouterDef>, &CModRouterDef::registerClass},
    {"audio:param", &createObjectOf<CAudioParamDef>, &CAudioParamDef::registerClass},
    {"audio:param-alloc", &createObjectOf<CAudioParamAllocDef>, &CAudioParamAllocDef::registerClass},
    {"audio:param-collector", &createObjectOf<CAudioParamCollector>, &CAudioParamCollector::registerClass},
    {"audio:param-filter-env", &createObjectOf<CAudioParamFilterEnv>, &CAudioParamFilterEnv::registerClass},
    {"audio:param-filter-mb", &createObjectOf<CAudioParamFilterMB>, &CAudioParamFilterMB::registerClass},
    {"audio:param-filter-mbslope", &createObjectOf<CAudioParamFilterMBSlope>, &CAudioParamFilterMBSlope::registerClass},
    {"audio:param-registry", &createObjectOf<CAudioParamRegistry>, &CAudioParamRegistry::registerClass},
    {"audio:param-remap", &createObjectOf<CAudioParamRemapDef>, &CAudioParamRemapDef::registerClass},
    {"audio:param-scope", &createObjectOf<CAudioParamScopeDef>, &CAudioParamScopeDef::registerClass},
    {"audio:process-bypass-state", &createObjectOf<CAudioProcessBypassStateDef>, &CAudioProcessBypassStateDef::registerClass},
    {"audio:process-def", &createObjectOf<CAudioProcessDef>, &CAudioProcessDef::registerClass},
    {"audio:process-link", &createObjectOf<CAudioProcessLinkDef>, &CAudioProcessLinkDef::registerClass},
    {"audio:viz-collector", &createObjectOf<CAudioVizCollector>, &CAudioVizCollector::registerClass},
    {"core:attr-doubler", &createObjectOf<CAttrDoubler>, &CAttrDoubler::registerClass},
    {"core:object", &createObjectOf<CObject>, &CObject::registerClass},
    {"core:shared-attribute", &createObjectOf<CSharedAttribute>, &CSharedAttribute::registerClass},
    {"core:timer", &createObjectOf<CTimer>, &CTimer::registerClass},
};
// clang-format on
} // namespace

std::span<const CTypeTableRow> productTypeTable()
{
    return kProductTypes;
}

CErrorPtr registerProductTypes(CTypeRegistration& registration)
{
    return registration.addTable(productTypeTable());
}

} // namespace zel
