#include "Audio/AudioVizData.h"

#include "Core/InputStream.h"
#include "Core/MemoryReader.h"
#include "Core/OutputStream.h"

#include <string>

namespace zel
{
namespace
{
constexpr const char* kName = "CAudioVizData";
} // namespace

CErrorPtr CAudioVizData::writeHeader(COutputStream& out) const
{
    ZEL_TRY(out.writeInt(m_kind), kName);
    ZEL_TRY(out.writeInt(sourceIndex), kName);
    ZEL_TRY(out.writeInt(channel), kName);
    ZEL_TRY(out.writeInt(slot), kName);
    ZEL_TRY(out.writeDouble(time), kName);
    ZEL_TRY(out.writeInt(flags), kName);
    return nullptr;
}

CErrorPtr CAudioVizData::readHeader(CInputStream& in)
{
    ZEL_TRY(in.readInt(sourceIndex), kName);
    ZEL_TRY(in.readInt(channel), kName);
    ZEL_TRY(in.readInt(slot), kName);
    ZEL_TRY(in.readDouble(time), kName);
    ZEL_TRY(in.readInt(flags), kName);
    return nullptr;
}

CErrorPtr CAudioVizData::write(COutputStream& out) const
{
    return writeHeader(out);
}

CErrorPtr CAudioVizData::read(CInputStream& in)
{
    return readHeader(in);
}

CErrorPtr CAudioVizDataMeter::write(COutputStream& out) const
{
    ZEL_TRY(writeHeader(out), kName);
    ZEL_TRY(out.writeDouble(level), kName);
    ZEL_TRY(out.writeDouble(peak), kName);
    return nullptr;
}

CErrorPtr CAudioVizDataMeter::read(CInputStream& in)
{
    ZEL_TRY(readHeader(in), kName);
    ZEL_TRY(in.readDouble(level), kName);
    ZEL_TRY(in.readDouble(peak), kName);
    return nullptr;
}

CErrorPtr CAudioVizDataInfo::write(COutputStream& out) const
{
    ZEL_TRY(writeHeader(out), kName);
    ZEL_TRY(out.writeString(text), kName);
    ZEL_TRY(out.writeInt(value), kName);
    return nullptr;
}

CErrorPtr CAudioVizDataInfo::read(CInputStream& in)
{
    ZEL_TRY(readHeader(in), kName);
    ZEL_TRY(in.readString(text), kName);
    ZEL_TRY(in.readInt(value), kName);
    return nullptr;
}

CErrorPtr CAudioVizDataSpectrum::write(COutputStream& out) const
{
    ZEL_TRY(writeHeader(out), kName);
    ZEL_TRY(out.writeInt(mode), kName);
    ZEL_TRY(out.writeBlock(samples.data(), samples.size()), kName);
    ZEL_TRY(out.writeDouble(sampleRate), kName);
    ZEL_TRY(out.writeInt(firstBin), kName);
    ZEL_TRY(out.writeInt(binCount), kName);
    ZEL_TRY(out.writeDouble(scale), kName);
    return nullptr;
}

CErrorPtr CAudioVizDataSpectrum::read(CInputStream& in)
{
    ZEL_TRY(readHeader(in), kName);
    ZEL_TRY(in.readInt(mode), kName);
    ZEL_TRY(in.readBlock(samples), kName);
    ZEL_TRY(in.readDouble(sampleRate), kName);
    ZEL_TRY(in.readInt(firstBin), kName);
    ZEL_TRY(in.readInt(binCount), kName);
    ZEL_TRY(in.readDouble(scale), kName);
    return nullptr;
}

CErrorPtr CAudioVizDataRGB::write(COutputStream& out) const
{
    ZEL_TRY(writeHeader(out), kName);
    ZEL_TRY(out.writeDouble(red), kName);
    ZEL_TRY(out.writeDouble(green), kName);
    ZEL_TRY(out.writeDouble(blue), kName);
    return nullptr;
}

CErrorPtr CAudioVizDataRGB::read(CInputStream& in)
{
    ZEL_TRY(readHeader(in), kName);
    ZEL_TRY(in.readDouble(red), kName);
    ZEL_TRY(in.readDouble(green), kName);
    ZEL_TRY(in.readDouble(blue), kName);
    return nullptr;
}

CErrorPtr createVizData(std::int32_t kind, CAudioVizDataPtr& record)
{
    record.reset();
    switch (kind)
    {
    case CAudioVizData::kKindMeter:
        record = std::make_unique<CAudioVizDataMeter>();
        return nullptr;
    case CAudioVizData::kKindInfo:
        record = std::make_unique<CAudioVizDataInfo>();
        return nullptr;
    case CAudioVizData::kKindSpectrum:
        record = std::make_unique<CAudioVizDataSpectrum>();
        return nullptr;
    case CAudioVizData::kKindRGB:
        record = std::make_unique<CAudioVizDataRGB>();
        return nullptr;
    default:
        return ZEL_ERROR(kName, "zelstr_CAudioVizData_create_UnknownKind",
                         "Unknown visualisation data kind %1.", {std::to_string(kind)});
    }
}

CErrorPtr readVizData(CInputStream& in, CAudioVizDataPtr& record)
{
    record.reset();
    std::int32_t kind = 0;
    ZEL_TRY(in.readInt(kind), kName);
    CAudioVizDataPtr made;
    ZEL_TRY(createVizData(kind, made), kName);
    ZEL_TRY(made->read(in), kName);
    record = std::move(made);
    return nullptr;
}

CErrorPtr readVizDataBatch(const std::uint8_t* data, std::size_t size, CAudioVizDataList& records)
{
    CMemoryReader in(data, size);
    while (in.remaining() > 0)
    {
        CAudioVizDataPtr record;
        ZEL_TRY(readVizData(in, record), kName);
        records.push_back(std::move(record));
    }
    return nullptr;
}

CErrorPtr readVizDataBlock(CPosInputStream& in, double& time, std::vector<CAudioVizEntry>& entries)
{
    ZEL_TRY(in.readDouble(time), kName);
    for (;;)
    {
        std::int64_t position = 0;
        std::int64_t size = 0;
        ZEL_TRY(in.getPosition(position), kName);
        ZEL_TRY(in.getSize(size), kName);
        if (position >= size)
            return nullptr;
        CAudioVizEntry entry;
        ZEL_TRY(in.readInt(entry.listenerId), kName);
        ZEL_TRY(in.readString(entry.source), kName);
        ZEL_TRY(in.readInt(entry.slot), kName);
        ZEL_TRY(in.readInt(entry.recordCount), kName);
        ZEL_TRY(in.readInt(entry.dropped), kName);
        std::vector<std::uint8_t> bytes;
        ZEL_TRY(in.readBlock(bytes), kName);
        ZEL_TRY(readVizDataBatch(bytes.data(), bytes.size(), entry.records), kName);
        if (entry.records.size() != static_cast<std::size_t>(entry.recordCount))
            return ZEL_ERROR(kName, "zelstr_CAudioVizData_readBlock_CountMismatch",
                             "Visualisation entry %1 announces %2 records but holds %3.",
                             {std::to_string(entry.listenerId), std::to_string(entry.recordCount),
                              std::to_string(entry.records.size())});
        entries.push_back(std::move(entry));
    }
}

} // namespace zel
