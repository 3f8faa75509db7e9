#pragma once
// Test support for the application data: a fixture that points the user's configuration
// folder (XDG_CONFIG_HOME) at a fresh temporary folder, and helpers that build and take
// apart stored blocks with zlib directly, independently of the framework's streams.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace ktest
{

namespace fs = std::filesystem;

inline void setEnvironment(const char* name, const std::optional<std::string>& value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value->c_str() : "");
#else
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
#endif
}

inline std::optional<std::string> environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// XDG_CONFIG_HOME points at a fresh folder for the holder's lifetime.
class CConfigHome
{
public:
    CConfigHome()
    {
        std::random_device rd;
        home = fs::temp_directory_path() / ("kelv_appdata_" + std::to_string(rd()));
        fs::create_directories(home);
        m_saved = environment("XDG_CONFIG_HOME");
        setEnvironment("XDG_CONFIG_HOME", home.string());
    }
    ~CConfigHome()
    {
        setEnvironment("XDG_CONFIG_HOME", m_saved);
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    CConfigHome(const CConfigHome&) = delete;
    CConfigHome& operator=(const CConfigHome&) = delete;

    fs::path dataFolder() const { return home / "Ardovin" / "Audio Plug-Ins" / "Data"; }

    fs::path home;

private:
    std::optional<std::string> m_saved;
};

// The same for a whole test.
class CConfigHomeTest : public ::testing::Test, public CConfigHome
{
};

using CBytes = std::vector<std::uint8_t>;

inline void putInt(CBytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void putString(CBytes& out, const std::string& s)
{
    putInt(out, static_cast<std::uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

// A compressed block: identifier, announced length (by default the plain length), Adler-32 of
// the four length bytes (computed here by hand), then the zlib stream.
inline CBytes makeBlock(const char (&id)[5], const CBytes& plain,
                        std::optional<std::uint32_t> announced = std::nullopt)
{
    CBytes out(id, id + 4);
    putInt(out, announced.value_or(static_cast<std::uint32_t>(plain.size())));
    std::uint32_t a = 1, b = 0;
    for (std::size_t i = 4; i < 8; ++i)
    {
        a = (a + out[i]) % 65521;
        b = (b + a) % 65521;
    }
    putInt(out, b << 16 | a);
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    out.resize(12 + size);
    EXPECT_EQ(compress(out.data() + 12, &size, plain.data(), static_cast<uLong>(plain.size())),
              Z_OK);
    out.resize(12 + size);
    return out;
}

// The identifier and plain content of a block (no checks beyond zlib's own).
inline std::pair<std::string, CBytes> openBlock(const CBytes& block)
{
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i)
        length |= static_cast<std::uint32_t>(block.at(4 + i)) << (8 * i);
    const std::size_t pos = 12; // identifier, length, check
    CBytes plain(length);
    uLongf size = length;
    EXPECT_EQ(
        uncompress(plain.data(), &size, block.data() + pos, static_cast<uLong>(block.size() - pos)),
        Z_OK);
    return {std::string(block.begin(), block.begin() + 4), plain};
}

// The plain content of a settings data set holding values.
inline CBytes settingsContent(const std::vector<std::pair<std::string, std::string>>& values)
{
    CBytes plain;
    putInt(plain, 1);
    putInt(plain, static_cast<std::uint32_t>(values.size()));
    for (const auto& [name, value] : values)
    {
        putString(plain, name);
        putString(plain, value);
    }
    return plain;
}

inline CBytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return CBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& path, const CBytes& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace ktest
