#pragma once
// CError: the framework's error value. Operations that can fail return a CErrorPtr; an empty
// pointer means success. No exception crosses an operation boundary.
//
// An error carries a localisable message (an identifier such as
// "zelstr_CObject_registerCreator" and a text whose %1..%3 (%4.. where a message needs more) have
// been replaced by arguments) and a trail: each level that passes the error upwards appends one
// entry made of the source file name, "( ", the line, " ) // " and the full name of the object that
// reports it.

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zel
{

class CError
{
public:
    CError(std::string id, std::string text) : m_id(std::move(id)), m_text(std::move(text)) {}

    const std::string& id() const { return m_id; }
    const std::string& text() const { return m_text; }
    const std::vector<std::string>& trail() const { return m_trail; }

    // Appends "<file>( <line> ) // <fullName>"; only the file's base name is kept.
    void addTrail(std::string_view file, int line, std::string_view fullName);
    // The message followed by one trail entry per line; "<no details>" is never produced here.
    std::string details() const;

private:
    std::string m_id;
    std::string m_text;
    std::vector<std::string> m_trail;
};

using CErrorPtr = std::unique_ptr<CError>;

// Replaces %1..%9 in text by the arguments (missing arguments leave the mark as is). The
// arguments are inserted as they are: a "%2" inside an argument is not replaced again.
std::string formatMessage(std::string_view text, std::initializer_list<std::string> args);

// Makes an error without a trail entry.
CErrorPtr makeError(std::string_view id, std::string_view text,
                    std::initializer_list<std::string> args = {});

// Makes an error and gives it its first trail entry.
CErrorPtr makeErrorAt(const char* file, int line, std::string_view fullName, std::string_view id,
                      std::string_view text, std::initializer_list<std::string> args = {});

// Appends a trail entry to err (when there is one) and hands it on.
CErrorPtr passError(CErrorPtr err, const char* file, int line, std::string_view fullName);

} // namespace zel

// ZEL_ERROR(fullName, id, text, args...): a new error reported at this source position.
#define ZEL_ERROR(fullName, id, ...)                                                               \
    ::zel::makeErrorAt(__FILE__, __LINE__, (fullName), (id), __VA_ARGS__)
// ZEL_PASS(err, fullName): err with this source position appended to its trail.
#define ZEL_PASS(err, fullName) ::zel::passError((err), __FILE__, __LINE__, (fullName))
// ZEL_TRY(expr, fullName): returns the error of expr, with a trail entry, if it fails.
#define ZEL_TRY(expr, fullName)                                                                    \
    do                                                                                             \
    {                                                                                              \
        if (::zel::CErrorPtr zelTryErr_ = (expr))                                                  \
            return ZEL_PASS(std::move(zelTryErr_), (fullName));                                    \
    } while (false)
