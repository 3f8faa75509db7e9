#pragma once
// Test support for the audio tests: a fixture owning a root with the product types registered,
// a compact attribute-list notation, CRecordBytes, which assembles expected stored bytes field
// by field, independently of the stream encoders, and the signal helpers the process and
// whole-instance tests share (tones, impulses, a plain DFT, the largest sample).

#include "Audio/AudioParam.h"
#include "Audio/AudioParamDef.h"
#include "Audio/AudioVizCollector.h"
#include "Audio/AudioVizData.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/ObjectTestSupport.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace kelvtest
{

using CSamples = std::vector<double>;

// amplitude * sin(2 pi f i / rate + phase) for i in [0, n).
inline CSamples tone(double amplitude, double f, double rate, std::size_t n, double phase = 0.0)
{
    CSamples x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = amplitude *
               std::sin(2.0 * std::numbers::pi * f * static_cast<double>(i) / rate + phase);
    return x;
}
inline CSamples impulse(std::size_t n, double height = 1.0)
{
    CSamples x(n, 0.0);
    x[0] = height;
    return x;
}
// The index of the sample of largest magnitude (the first of equals).
inline std::size_t peakIndex(const CSamples& x)
{
    std::size_t best = 0;
    for (std::size_t i = 1; i < x.size(); ++i)
        if (std::abs(x[i]) > std::abs(x[best]))
            best = i;
    return best;
}
// Decibels from and to factors, by the base-10 definition.
inline double dB(double ratio)
{
    return 20.0 * std::log10(ratio);
}
inline double dbToFactor(double db)
{
    return std::pow(10.0, db / 20.0);
}
// The DFT of y at frequency f for the sample rate rate (a plain sum over all of y).
inline std::complex<double> dftAt(const CSamples& y, double f, double rate)
{
    std::complex<double> sum = 0.0;
    const double w = 2.0 * std::numbers::pi * f / rate;
    for (std::size_t n = 0; n < y.size(); ++n)
        sum += y[n] * std::polar(1.0, -w * static_cast<double>(n));
    return sum;
}

// What a visualisation collector hands a client: its records, decoded.
struct CVizBatch
{
    double time = 0;
    std::vector<zel::CAudioVizEntry> entries;
};
inline CVizBatch takeVizRecords(zel::CAudioVizCollector& viz, std::int32_t client)
{
    zel::CMemoryWriteBuffer out;
    EXPECT_EQ(idAndText(viz.takeRecords(client, out)), "no error");
    const std::vector<std::uint8_t> bytes = out.toVector();
    zel::CMemoryReader in(bytes.data(), bytes.size());
    CVizBatch batch;
    EXPECT_EQ(idAndText(zel::readVizDataBlock(in, batch.time, batch.entries)), "no error");
    return batch;
}

using CAttrs = std::vector<std::pair<zel::CText, zel::CText>>;

// "name=value|name=value": values may hold spaces, commas and semicolons.
inline CAttrs attrs(const std::string& list)
{
    CAttrs out;
    std::size_t start = 0;
    while (start < list.size())
    {
        std::size_t end = list.find('|', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string item = list.substr(start, end - start);
        const std::size_t eq = item.find('=');
        out.push_back({zel::CText(item.substr(0, eq)), zel::CText(item.substr(eq + 1))});
        start = end + 1;
    }
    return out;
}

// A parameter's values in one line, groups split by "|", values by ",": strings by their text
// (their item ids change with every edit and load), numbers as %g.
inline std::string contents(const zel::CAudioParam& param)
{
    const bool strings = param.info().dataType == zel::EAudioParamDataType::kString;
    std::string out;
    for (std::int32_t g = 0; g < param.groupCount(); ++g)
    {
        if (g > 0)
            out += '|';
        const std::vector<double> values = param.elements(g);
        for (std::size_t i = 0; i < values.size(); ++i)
        {
            if (i > 0)
                out += ',';
            char number[32];
            std::snprintf(number, sizeof number, "%g", values[i]);
            out += strings ? param.string(g, static_cast<std::int32_t>(i)).toUtf8() : number;
        }
    }
    return out;
}

struct CRecordBytes
{
    std::vector<std::uint8_t> bytes;

    CRecordBytes& i32(std::int32_t value)
    {
        const auto u = static_cast<std::uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>((u >> shift) & 0xFF));
        return *this;
    }
    // A double given by its IEEE bit pattern (0.0 is 0, 1.0 is 0x3FF0000000000000).
    CRecordBytes& f64bits(std::uint64_t bits)
    {
        for (int shift = 0; shift < 64; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>((bits >> shift) & 0xFF));
        return *this;
    }
    CRecordBytes& str(const std::string& ascii)
    {
        i32(static_cast<std::int32_t>(ascii.size()));
        bytes.insert(bytes.end(), ascii.begin(), ascii.end());
        return *this;
    }
    CRecordBytes& raw(const std::vector<std::uint8_t>& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
};

// A root "r" with the product types registered and, below "cvt", the converters given.
class CAudioTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(zel::registerProductTypes(m_registration));
        m_root = zel::CObject::make<zel::CObject>();
        m_root->setRootName("r");
        ASSERT_FALSE(ktest::loadElement(*m_root, {"core:object", "cvt", {}, converters()}));
    }
    virtual std::vector<ktest::CFakeChild> converters() const { return {}; }

    // Loads an element of tag with a fresh name below the root; null (and err set) on failure.
    zel::CObject* load(const char* tag, const CAttrs& list, zel::CErrorPtr* err = nullptr)
    {
        zel::CObject* made = nullptr;
        zel::CErrorPtr result = ktest::loadElement(
            *m_root, {tag, zel::CText("e") + zel::CText(std::to_string(m_count++)), list, {}},
            &made);
        const bool failed = result != nullptr;
        if (err != nullptr)
            *err = std::move(result);
        else
            EXPECT_EQ(idAndText(result), "no error") << tag;
        return failed ? nullptr : made;
    }

    std::shared_ptr<const zel::CAudioParamInfo> define(const std::string& list)
    {
        auto* def = dynamic_cast<zel::CAudioParamDef*>(load("audio:param", attrs(list)));
        return def != nullptr ? def->sharedInfo() : nullptr;
    }

    ktest::CFakeApplication m_application;
    zel::CTypeRegistration m_registration;
    zel::CObjectPtr m_root;
    int m_count = 0;
};

} // namespace kelvtest
