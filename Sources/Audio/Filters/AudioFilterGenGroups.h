#pragma once
// The generators that combine others: CAudioFilterSerialGen ("audio:fltgen-serial") cascades
// the biquad sections of its items, and CAudioFilterGenArray ("audio:fltgen-array") is a table
// of generators that a filter module selects by an index parameter (the filter type, the band
// design, the half-band order). Their items name the generator they stand for with the
// attribute "fltgen" (an object path, resolved when the item is loaded, so the generator must
// come earlier in the description) or hold it as their only generator child.

#include "Audio/Filters/AudioFilterGen.h"

namespace zel
{

// The part shared by both item classes: the generator the item stands for.
class CAudioFilterGenItemBase : public CAudioFilterGen
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr initChilds() override;

    CErrorPtr onFltgen(const CText& value);

    // Null before the item is loaded or once the generator is gone.
    const CAudioFilterGen* target() const;

protected:
    CErrorPtr findTarget();

private:
    CText m_path;
    CObjectRef m_target;
};

// "audio:fltgen-serial-item": one stage of a cascade. "adjust" lists up to three factors that
// multiply the stage's inputs frequency, gain and bandwidth, in that order ("1.0,1.0,0.924825"
// narrows the bandwidth); missing factors are 1.
class CAudioFilterSerialGenItem : public CAudioFilterGenItemBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    CErrorPtr onAdjust(const CText& value);
    const std::array<double, 3>& adjust() const { return m_adjust; }

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;

private:
    std::array<double, 3> m_adjust{1.0, 1.0, 1.0};
};

// "audio:fltgen-serial": the sections of its items (children in name order) in cascade. Only
// biquad designs can be cascaded.
class CAudioFilterSerialGen : public CAudioFilterGen
{
public:
    static void registerClass(CClassInfo& info);

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;
};

// "audio:fltgen-array-item": the generator under one "index" of an array. Its input attributes
// ("freq", "length", "power", ...) take precedence over the array's.
class CAudioFilterGenArrayItem : public CAudioFilterGenItemBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    CErrorPtr onIndex(const CText& value);
    std::int32_t index() const { return m_index; }

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;

private:
    CText m_indexText;
    std::int32_t m_index = -1;
};

// "audio:fltgen-array": designs with the item whose "index" equals the request's index. A
// request's own inputs win over the item's attributes, which win over the array's, which win
// over the selected generator's.
class CAudioFilterGenArray : public CAudioFilterGen
{
public:
    static void registerClass(CClassInfo& info);
    // Checks that no two items share an index.
    CErrorPtr initChilds() override;

    // Inputs are resolved item first (see above), not by the array alone.
    CAudioFilterRequest resolve(const CAudioFilterRequest& request) const override;

    // The item of index, or null.
    const CAudioFilterGenArrayItem* item(std::int32_t index) const;
    // The generator under index, or null.
    const CAudioFilterGen* generator(std::int32_t index) const;
    std::size_t itemCount() const;

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;
};

} // namespace zel
