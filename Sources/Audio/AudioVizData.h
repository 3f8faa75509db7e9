#pragma once
// CAudioVizData and its kinds: the visualisation records that measuring modules produce on the
// audio side and the editor's displays consume, and the readers of a record batch and of the
// "viz-data" block. A record knows how to write and read itself; it does not know who made it,
// where it is kept or how it reaches the editor (that is CAudioVizCollector).
//
// Stream layout of one record:
//   i32 kind code (0 meter, 1 info, 3 spectrum, 4 RGB; 2 is not used)
//   common header: i32 source index, i32 channel, i32 slot, f64 time, i32 flags
//   the kind's own fields (see each class)
// write() writes all of it, kind code first. read() reads the header and the fields only: the
// batch reader takes the kind code from the stream first, creates the record of that kind and
// lets it read the rest.
//
// Header meaning, as the collector fills it: source index = the result's index within its
// measuring module, channel = the measured channel, slot = the slot the listener registered,
// time = stream time (seconds) of the block the record was taken in, flags = kFlagInverted
// when the values were inverted for display.
//
// "viz-data" block: f64 time, then until the block ends, per listener entry: i32 listener id,
// string source name, i32 slot, i32 record count, i32 records dropped since the previous batch
// (the pending list was full), byte block holding the records back to back.

#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zel
{

class CInputStream;
class COutputStream;
class CPosInputStream;

class CAudioVizData
{
public:
    enum EKind : std::int32_t
    {
        kKindMeter = 0,
        kKindInfo = 1,
        kKindSpectrum = 3,
        kKindRGB = 4
    };
    static constexpr std::int32_t kFlagInverted = 1;

    explicit CAudioVizData(std::int32_t kind) : m_kind(kind) {}
    virtual ~CAudioVizData() = default;
    CAudioVizData(const CAudioVizData&) = default;
    CAudioVizData& operator=(const CAudioVizData&) = default;

    // Kind code, header, fields.
    virtual CErrorPtr write(COutputStream& out) const;
    // Header and fields (the kind code was already taken by the reader).
    virtual CErrorPtr read(CInputStream& in);

    std::int32_t kind() const { return m_kind; }

    std::int32_t sourceIndex = 0;
    std::int32_t channel = 0;
    std::int32_t slot = 0;
    double time = 0.0;
    std::int32_t flags = 0;

protected:
    CErrorPtr writeHeader(COutputStream& out) const;
    CErrorPtr readHeader(CInputStream& in);

private:
    std::int32_t m_kind;
};

// Kind 0: a meter's two values (level and peak; the correlation meter gives its correlation
// in both).
class CAudioVizDataMeter : public CAudioVizData
{
public:
    CAudioVizDataMeter() : CAudioVizData(kKindMeter) {}
    CErrorPtr write(COutputStream& out) const override;
    CErrorPtr read(CInputStream& in) override;

    double level = 0.0;
    double peak = 0.0;
};

// Kind 1: a text item with one integer.
class CAudioVizDataInfo : public CAudioVizData
{
public:
    CAudioVizDataInfo() : CAudioVizData(kKindInfo) {}
    CErrorPtr write(COutputStream& out) const override;
    CErrorPtr read(CInputStream& in) override;

    CText text;
    std::int32_t value = 0;
};

// Kind 3: a spectrum: i32 mode, byte block of samples, f64 sample rate, i32 first bin,
// i32 bin count, f64 scale.
class CAudioVizDataSpectrum : public CAudioVizData
{
public:
    CAudioVizDataSpectrum() : CAudioVizData(kKindSpectrum) {}
    CErrorPtr write(COutputStream& out) const override;
    CErrorPtr read(CInputStream& in) override;

    std::int32_t mode = 0;
    std::vector<std::uint8_t> samples;
    double sampleRate = 0.0;
    std::int32_t firstBin = 0;
    std::int32_t binCount = 0;
    double scale = 0.0;
};

// Kind 4: three colour components.
class CAudioVizDataRGB : public CAudioVizData
{
public:
    CAudioVizDataRGB() : CAudioVizData(kKindRGB) {}
    CErrorPtr write(COutputStream& out) const override;
    CErrorPtr read(CInputStream& in) override;

    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
};

using CAudioVizDataPtr = std::unique_ptr<CAudioVizData>;
using CAudioVizDataList = std::vector<CAudioVizDataPtr>;

// A new, empty record of a kind; an unknown kind is an error.
CErrorPtr createVizData(std::int32_t kind, CAudioVizDataPtr& record);
// Kind code, then the record it selects.
CErrorPtr readVizData(CInputStream& in, CAudioVizDataPtr& record);
// Records back to back until size bytes are used up. Stops at the first error (an unknown
// kind, a record cut off by the end); the records read before it stay in records.
CErrorPtr readVizDataBatch(const std::uint8_t* data, std::size_t size, CAudioVizDataList& records);

// One listener entry of a "viz-data" block.
struct CAudioVizEntry
{
    std::int32_t listenerId = 0;
    CText source;
    std::int32_t slot = 0;
    std::int32_t recordCount = 0;
    std::int32_t dropped = 0;
    CAudioVizDataList records;
};

// Reads a "viz-data" block to the end of in. A record count that does not match the records
// found is an error.
CErrorPtr readVizDataBlock(CPosInputStream& in, double& time, std::vector<CAudioVizEntry>& entries);

} // namespace zel
