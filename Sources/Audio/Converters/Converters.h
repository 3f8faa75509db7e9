#pragma once
// The ten concrete parameter value converters (see AudioParamConverter.h for the contract).
// Each is an ordinary object created by type name from the description:
//   "audio:cvt-bw"      CAudioParamConverterBW       bandwidth, square-law knob, 2 decimals
//   "audio:cvt-enum"    CAudioParamConverterEnum     stepped states ("state-names")
//   "audio:cvt-freq"    CAudioParamConverterFreq     Hz, logarithmic, "k" for thousands
//   "audio:cvt-gain"    CAudioParamConverterGain     linear factor shown in dB ("decimals")
//   "audio:cvt-pan"     CAudioParamConverterPan      -1 (left) to 1 (right), "L 50" / "C" / "R 50"
//   "audio:cvt-percent" CAudioParamConverterPercent  factor shown in percent
//   "audio:cvt-ratio"   CAudioParamConverterRatio    slope shown as a ratio "4.0:1" ("decimals")
//   "audio:cvt-real"    CAudioParamConverterReal     plain number ("decimals")
//   "audio:cvt-text"    CAudioParamConverterText     shows the element's string item
//   "audio:cvt-time"    CAudioParamConverterTime     time ("scale", "is-log", "is-exact",
//                                                    "is-precise")

#include "Audio/Converters/AudioParamConverter.h"

#include <vector>

namespace zel
{

class CAudioParamConverterBW : public CAudioParamConverter
{
public:
    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
    double normToValue(const CAudioParamInfo& info, std::int32_t element,
                       double norm) const override;
    double valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                       double value) const override;
};

class CAudioParamConverterEnum : public CAudioParamConverter
{
public:
    static void registerClass(CClassInfo& info);

    double textToValue(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                       bool* ok = nullptr) const override;
    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
    double normToValue(const CAudioParamInfo& info, std::int32_t element,
                       double norm) const override;
    // Handler of "state-names": states separated by ";", fields by "|"; the first field is the
    // full name, the second (or else the full name) cut to 7 characters the short name.
    virtual CErrorPtr parseStateNames(const CText& value);

    std::size_t stateCount() const { return m_stateCount; }
    const std::vector<CText>& fullNames() const { return m_fullNames; }
    const std::vector<CText>& shortNames() const { return m_shortNames; }

private:
    std::vector<CText> m_fullNames;
    std::vector<CText> m_shortNames;
    std::size_t m_stateCount = 0;
};

class CAudioParamConverterFreq : public CAudioParamConverter
{
public:
    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
    double normToValue(const CAudioParamInfo& info, std::int32_t element,
                       double norm) const override;
    double valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                       double value) const override;
};

class CAudioParamConverterGain : public CAudioParamConverter
{
public:
    // dB = ln(factor) * kDbPerNeper.
    static constexpr double kDbPerNeper = 8.685889638065037;

    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    // A factor of 0 or below shows as "-inf".
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
    double normToValue(const CAudioParamInfo& info, std::int32_t element,
                       double norm) const override;
    double valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                       double value) const override;

    CErrorPtr onDecimals(const CText& value);
    std::int32_t decimals() const { return m_decimals; }

private:
    std::int32_t m_decimals = 0;
};

class CAudioParamConverterPan : public CAudioParamConverter
{
public:
    double textToValue(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                       bool* ok = nullptr) const override;
    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
};

class CAudioParamConverterPercent : public CAudioParamConverter
{
public:
    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
};

class CAudioParamConverterRatio : public CAudioParamConverter
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
    double normToValue(const CAudioParamInfo& info, std::int32_t element,
                       double norm) const override;
    double valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                       double value) const override;

    CErrorPtr onDecimals(const CText& value);
    std::int32_t decimals() const { return m_decimals; }

private:
    std::int32_t m_decimals = 0; // absent counts as 0, which init rejects
};

class CAudioParamConverterReal : public CAudioParamConverter
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;

    CErrorPtr onDecimals(const CText& value);
    std::int32_t decimals() const { return m_decimals; }

private:
    std::int32_t m_decimals = 0;
};

class CAudioParamConverterText : public CAudioParamConverter
{
public:
    // Always 0 with ok true: texts are stored as items, not parsed.
    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    // The string item whose id is the value; empty when there is none.
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
};

class CAudioParamConverterTime : public CAudioParamConverter
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    double textToValueRaw(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                          bool* ok = nullptr) const override;
    CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                      std::int32_t mode, const CAudioParamData* data) const override;
    double normToValue(const CAudioParamInfo& info, std::int32_t element,
                       double norm) const override;
    double valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                       double value) const override;

    CErrorPtr onIsLog(const CText& value);
    CErrorPtr onScale(const CText& value);
    CErrorPtr onIsExact(const CText& value);
    CErrorPtr onIsPrecise(const CText& value);

    double scale() const { return m_scale; }

private:
    bool m_isLog = false;
    double m_scale = 0.0; // required; init rejects values not above 0
    CText m_scaleText;
    bool m_isExact = false;
    std::int32_t m_precision = 0; // 1 when "is-precise"
};

} // namespace zel
