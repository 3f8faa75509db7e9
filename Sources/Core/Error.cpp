#include "Core/Error.h"

namespace zel
{

void CError::addTrail(std::string_view file, int line, std::string_view fullName)
{
    const std::size_t slash = file.find_last_of("/\\");
    if (slash != std::string_view::npos)
        file.remove_prefix(slash + 1);
    std::string entry;
    entry.reserve(file.size() + fullName.size() + 16);
    entry += file;
    entry += "( ";
    entry += std::to_string(line);
    entry += " ) // ";
    entry += fullName;
    m_trail.push_back(std::move(entry));
}

std::string CError::details() const
{
    std::string out = m_text;
    for (const std::string& entry : m_trail)
    {
        out += '\n';
        out += entry;
    }
    return out;
}

std::string formatMessage(std::string_view text, std::initializer_list<std::string> args)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9')
        {
            const std::size_t index = static_cast<std::size_t>(text[i + 1] - '1');
            if (index < args.size())
            {
                out += *(args.begin() + index);
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

CErrorPtr makeError(std::string_view id, std::string_view text,
                    std::initializer_list<std::string> args)
{
    return std::make_unique<CError>(std::string(id), formatMessage(text, args));
}

CErrorPtr makeErrorAt(const char* file, int line, std::string_view fullName, std::string_view id,
                      std::string_view text, std::initializer_list<std::string> args)
{
    CErrorPtr err = makeError(id, text, args);
    err->addTrail(file, line, fullName);
    return err;
}

CErrorPtr passError(CErrorPtr err, const char* file, int line, std::string_view fullName)
{
    if (err)
        err->addTrail(file, line, fullName);
    return err;
}

} // namespace zel
