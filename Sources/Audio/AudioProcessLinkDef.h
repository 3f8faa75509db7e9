#pragma once
// The wiring objects inside a process definition:
//   CAudioProcessLinkDef         "audio:process-link": one link from "src" to "dst". An end is
//                                a child process name with an optional "/" and port number
//                                (default 0), or "*" for the enclosing process's own input
//                                (as "src") or output (as "dst"). "state-id" (-1: always
//                                active) ties the link to a switch state; "bypass-state-id"
//                                names a bypass state that, while active, carries the source's
//                                signal past the destination.
//   CAudioProcessBypassStateDef  "audio:process-bypass-state": a condition on one parameter
//                                (optionally AND a second one) that switches links and
//                                processes naming its "id".
//   CAudioInterval               the "range" grammar.
// These classes parse and validate only; whether the link's process names exist is checked by
// the enclosing CAudioProcessDef once all its children are loaded.

#include "Core/Object.h"

#include <cstdint>

namespace zel
{

// "[lo;hi]", "(lo;hi)", "[lo;hi)", "(lo;hi]", optionally with a third field "[lo;hi;tol]".
// "[" and "]" include their bound, "(" and ")" exclude it. The third field is a tolerance
// (default 0, never negative): an included bound accepts values up to tol beyond it, an
// excluded bound rejects values up to tol inside it, so that values carried through a
// converter's rounding still land on the intended side. At least 5 characters; numbers in the
// product's number grammar; lo must not exceed hi.
struct CAudioInterval
{
    double low = 0.0;
    double high = 0.0;
    double tolerance = 0.0;
    bool lowIncluded = true;
    bool highIncluded = true;

    static bool parse(const CText& text, CAudioInterval& out);
    bool contains(double value) const;
};

class CAudioProcessLinkDef : public CObject
{
public:
    static constexpr std::int32_t kOwnPort = -1; // the "*" end

    static void registerClass(CClassInfo& info);
    // Fails with "No 'src' attribute defined." / "No 'dst' attribute defined.".
    CErrorPtr init() override;

    // Process name of each end ("*" for the enclosing process) and port number.
    const CText& srcName() const { return m_srcName; }
    std::int32_t srcPort() const { return m_srcPort; }
    bool srcIsOwn() const { return m_srcName == CText("*"); }
    const CText& dstName() const { return m_dstName; }
    std::int32_t dstPort() const { return m_dstPort; }
    bool dstIsOwn() const { return m_dstName == CText("*"); }
    std::int32_t stateId() const { return m_stateId; }
    std::int32_t bypassStateId() const { return m_bypassStateId; }
    const CText& srcText() const { return m_srcText; }
    const CText& dstText() const { return m_dstText; }

    CErrorPtr onSrc(const CText& value);
    CErrorPtr onDst(const CText& value);
    CErrorPtr onStateId(const CText& value);
    CErrorPtr onBypassStateId(const CText& value);

private:
    CErrorPtr parseEnd(const CText& value, bool isSrc, CText& name, std::int32_t& port) const;

    CText m_srcText;
    CText m_dstText;
    CText m_srcName;
    CText m_dstName;
    std::int32_t m_srcPort = 0;
    std::int32_t m_dstPort = 0;
    std::int32_t m_stateId = -1;
    std::int32_t m_bypassStateId = -1;
};

class CAudioProcessBypassStateDef : public CObject
{
public:
    static void registerClass(CClassInfo& info);
    // Fails with "Invalid parameter name specified." without a "param".
    CErrorPtr init() override;

    // One condition: the parameter's first value equals value (within 1e-9 of it), or lies in
    // the interval when one is given.
    struct CCondition
    {
        CText param;
        double value = 0.0;
        bool hasRange = false;
        CAudioInterval range;
        bool group0 = false;

        bool holds(double paramValue) const;
    };

    std::int32_t id() const { return m_id; }
    const CCondition& first() const { return m_first; }
    // Its param is empty when there is no second condition.
    const CCondition& second() const { return m_second; }
    bool isInverted() const { return m_inverted; }
    bool isMultiband() const { return m_multiband; }
    // The state for the given values of the first and (when there is one) second parameter.
    bool evaluate(double firstValue, double secondValue) const;

    CErrorPtr onId(const CText& value);
    CErrorPtr onParam(const CText& value);
    CErrorPtr onValue(const CText& value);
    CErrorPtr onRange(const CText& value);
    CErrorPtr onAndParam(const CText& value);
    CErrorPtr onAndValue(const CText& value);
    CErrorPtr onAndRange(const CText& value);
    CErrorPtr onGroup0(const CText& value);
    CErrorPtr onAndGroup0(const CText& value);

private:
    CErrorPtr parseFlag(const CText& value, bool& out) const;
    CErrorPtr parseValue(const char* attr, const CText& value, double& out) const;
    CErrorPtr parseRange(const char* attr, const CText& value, CCondition& cond) const;

    std::int32_t m_id = -1;
    CCondition m_first;
    CCondition m_second;
    bool m_inverted = false;
    bool m_multiband = false;
};

} // namespace zel
