#include "Audio/Filters/AudioFilterGenGroups.h"

#include "Core/Numbers.h"

#include <algorithm>
#include <string>
#include <vector>

namespace zel
{
namespace
{

// Calls visit(item) for each child of parent that is an Item, in name order; stops when visit
// returns false. Walks the children map directly so that designing does not allocate.
template <class Item, class Visit>
void forEachItem(const CObject& parent, Visit visit)
{
    for (const auto& [name, slot] : parent.children())
    {
        for (const auto& [ordinal, child] : slot.byOrdinal)
        {
            if (const auto* item = dynamic_cast<const Item*>(child.get()))
            {
                if (!visit(*item))
                    return;
            }
        }
    }
}

} // namespace

// ---- CAudioFilterGenItemBase -------------------------------------------------------------------

void CAudioFilterGenItemBase::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
    info.attribute<&CAudioFilterGenItemBase::onFltgen>("fltgen");
}

CErrorPtr CAudioFilterGenItemBase::onFltgen(const CText& value)
{
    m_path = value;
    return state() >= kStateChildsInitialised ? findTarget() : nullptr;
}

CErrorPtr CAudioFilterGenItemBase::findTarget()
{
    m_target = CObjectRef();
    CAudioFilterGen* found = nullptr;
    if (!m_path.empty())
        found = dynamic_cast<CAudioFilterGen*>(findObject(m_path));
    else
    {
        forEachItem<CAudioFilterGen>(*this,
                                     [&](const CAudioFilterGen& child)
                                     {
                                         found = const_cast<CAudioFilterGen*>(&child);
                                         return false;
                                     });
    }
    if (found == nullptr || found == this)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGenItemBase_findTarget_NotFound",
                         "Filter generator '%1' not found.", {m_path.toUtf8()});
    m_target = found->weakRef();
    return nullptr;
}

CErrorPtr CAudioFilterGenItemBase::initChilds()
{
    ZEL_TRY(CAudioFilterGen::initChilds(), fullName().toUtf8());
    ZEL_TRY(findTarget(), fullName().toUtf8());
    return nullptr;
}

const CAudioFilterGen* CAudioFilterGenItemBase::target() const
{
    return static_cast<const CAudioFilterGen*>(m_target.get());
}

// ---- CAudioFilterSerialGenItem -----------------------------------------------------------------

void CAudioFilterSerialGenItem::registerClass(CClassInfo& info)
{
    CAudioFilterGenItemBase::registerClass(info);
    info.attribute<&CAudioFilterSerialGenItem::onAdjust>("adjust");
}

CErrorPtr CAudioFilterSerialGenItem::init()
{
    ZEL_TRY(CAudioFilterGenItemBase::init(), fullName().toUtf8());
    if (dynamic_cast<CAudioFilterSerialGen*>(parent()) == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterSerialGenItem_init_InvalidParent",
                         "CAudioFilterSerialGen class parent expected.", {});
    return nullptr;
}

CErrorPtr CAudioFilterSerialGenItem::onAdjust(const CText& value)
{
    std::vector<double> factors;
    if (!parseNumberList(value, factors) || factors.size() > 3)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterSerialGenItem_onAdjust_Invalid",
                         "Invalid adjust list '%1': up to three numbers expected.",
                         {value.toUtf8()});
    m_adjust = {1.0, 1.0, 1.0};
    std::copy(factors.begin(), factors.end(), m_adjust.begin());
    return nullptr;
}

CErrorPtr CAudioFilterSerialGenItem::designResolved(const CAudioFilterRequest& request,
                                                    CAudioFilterDesign& out,
                                                    CDCDAWFilterWorkspace* workspace) const
{
    const CAudioFilterGen* generator = target();
    if (generator == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGenItemBase_findTarget_NotFound",
                         "Filter generator '%1' not found.", {attribute("fltgen").toUtf8()});
    CAudioFilterRequest adjusted;
    ZEL_TRY(nested(generator->resolve(request), adjusted), fullName().toUtf8());
    for (auto [input, factor] :
         {std::pair{&adjusted.freq, m_adjust[0]}, std::pair{&adjusted.gain, m_adjust[1]},
          std::pair{&adjusted.bw, m_adjust[2]}})
    {
        if (*input)
            **input *= factor;
    }
    return generator->design(adjusted, out, workspace);
}

// ---- CAudioFilterSerialGen ---------------------------------------------------------------------

void CAudioFilterSerialGen::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
}

CErrorPtr CAudioFilterSerialGen::designResolved(const CAudioFilterRequest& request,
                                                CAudioFilterDesign& out,
                                                CDCDAWFilterWorkspace* workspace) const
{
    CAudioFilterRequest inner;
    ZEL_TRY(nested(request, inner), fullName().toUtf8());
    out.kind = EFilterDesignKind::kBiquad;
    CErrorPtr err;
    CAudioFilterDesign stage;
    forEachItem<CAudioFilterSerialGenItem>(
        *this,
        [&](const CAudioFilterSerialGenItem& item)
        {
            err = item.design(inner, stage, workspace);
            if (err)
                return false;
            if (stage.kind != EFilterDesignKind::kBiquad)
            {
                err = ZEL_ERROR(
                    fullName().toUtf8(), "zelstr_CAudioFilterSerialGen_design_NotBiquad",
                    "Only biquad filters can be cascaded ('%1').", {item.fullName().toUtf8()});
                return false;
            }
            if (out.sectionCount + stage.sectionCount > CAudioFilterDesign::kMaxSections)
            {
                err = ZEL_ERROR(fullName().toUtf8(),
                                "zelstr_CAudioFilterSerialGen_design_TooManySections",
                                "A cascade holds at most %1 sections.",
                                {std::to_string(CAudioFilterDesign::kMaxSections)});
                return false;
            }
            for (std::size_t i = 0; i < stage.sectionCount; ++i)
                out.sections[out.sectionCount++] = stage.sections[i];
            return true;
        });
    if (err)
        return ZEL_PASS(std::move(err), fullName().toUtf8());
    if (out.sectionCount == 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterSerialGen_design_NoItems",
                         "The cascade has no items.", {});
    return nullptr;
}

// ---- CAudioFilterGenArrayItem ------------------------------------------------------------------

void CAudioFilterGenArrayItem::registerClass(CClassInfo& info)
{
    CAudioFilterGenItemBase::registerClass(info);
    info.attribute<&CAudioFilterGenArrayItem::onIndex>("index");
}

CErrorPtr CAudioFilterGenArrayItem::init()
{
    ZEL_TRY(CAudioFilterGenItemBase::init(), fullName().toUtf8());
    if (dynamic_cast<CAudioFilterGenArray*>(parent()) == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGenArrayItem_init_InvalidParent",
                         "CAudioFilterGenArray class parent expected.", {});
    if (m_index < 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGenArrayItem_init_InvalidIndex",
                         "Invalid filter index '%1'.", {m_indexText.toUtf8()});
    return nullptr;
}

CErrorPtr CAudioFilterGenArrayItem::onIndex(const CText& value)
{
    m_indexText = value;
    std::int32_t index = -1;
    m_index = parseInteger32(value, index) && index >= 0 ? index : -1;
    if (m_index < 0 && state() >= kStateAttributesInitialised)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGenArrayItem_init_InvalidIndex",
                         "Invalid filter index '%1'.", {value.toUtf8()});
    return nullptr;
}

CErrorPtr CAudioFilterGenArrayItem::designResolved(const CAudioFilterRequest& request,
                                                   CAudioFilterDesign& out,
                                                   CDCDAWFilterWorkspace* workspace) const
{
    const CAudioFilterGen* generator = target();
    if (generator == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGenItemBase_findTarget_NotFound",
                         "Filter generator '%1' not found.", {attribute("fltgen").toUtf8()});
    CAudioFilterRequest inner;
    ZEL_TRY(nested(request, inner), fullName().toUtf8());
    return generator->design(inner, out, workspace);
}

// ---- CAudioFilterGenArray ----------------------------------------------------------------------

void CAudioFilterGenArray::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
}

CErrorPtr CAudioFilterGenArray::initChilds()
{
    ZEL_TRY(CAudioFilterGen::initChilds(), fullName().toUtf8());
    std::vector<std::int32_t> seen;
    CErrorPtr err;
    forEachItem<CAudioFilterGenArrayItem>(
        *this,
        [&](const CAudioFilterGenArrayItem& entry)
        {
            if (std::find(seen.begin(), seen.end(), entry.index()) != seen.end())
            {
                err = ZEL_ERROR(fullName().toUtf8(),
                                "zelstr_CAudioFilterGenArray_initChilds_Duplicate",
                                "Duplicate filter index %1.", {std::to_string(entry.index())});
                return false;
            }
            seen.push_back(entry.index());
            return true;
        });
    return err;
}

CAudioFilterRequest CAudioFilterGenArray::resolve(const CAudioFilterRequest& request) const
{
    return request;
}

const CAudioFilterGenArrayItem* CAudioFilterGenArray::item(std::int32_t index) const
{
    const CAudioFilterGenArrayItem* found = nullptr;
    forEachItem<CAudioFilterGenArrayItem>(*this,
                                          [&](const CAudioFilterGenArrayItem& entry)
                                          {
                                              if (entry.index() != index)
                                                  return true;
                                              found = &entry;
                                              return false;
                                          });
    return found;
}

const CAudioFilterGen* CAudioFilterGenArray::generator(std::int32_t index) const
{
    const CAudioFilterGenArrayItem* entry = item(index);
    return entry != nullptr ? entry->target() : nullptr;
}

std::size_t CAudioFilterGenArray::itemCount() const
{
    std::size_t count = 0;
    forEachItem<CAudioFilterGenArrayItem>(*this,
                                          [&](const CAudioFilterGenArrayItem&)
                                          {
                                              ++count;
                                              return true;
                                          });
    return count;
}

CErrorPtr CAudioFilterGenArray::designResolved(const CAudioFilterRequest& request,
                                               CAudioFilterDesign& out,
                                               CDCDAWFilterWorkspace* workspace) const
{
    const CAudioFilterGenArrayItem* entry = item(request.index);
    if (entry == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGenArray_design_NoItem",
                         "No filter generator at index %1.", {std::to_string(request.index)});
    // The item's own inputs first, then the array's; the item passes the rest on.
    CAudioFilterRequest filled = entry->resolve(request);
    fillOwnInputs(filled);
    CAudioFilterRequest inner;
    ZEL_TRY(nested(filled, inner), fullName().toUtf8());
    return entry->design(inner, out, workspace);
}

} // namespace zel
