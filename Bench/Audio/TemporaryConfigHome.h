#pragma once
// CTemporaryConfigHome: points the user configuration folder at a fresh temporary one while it
// lives, so that a benchmarked plug-in instance never reads or writes the user's own
// application data. Not a test fixture; benchmarks only.

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace kelvbench
{

class CTemporaryConfigHome
{
public:
    CTemporaryConfigHome()
    {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() / ("kelv_bench_" + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
#ifdef _WIN32
        _putenv_s("XDG_CONFIG_HOME", m_path.string().c_str());
#else
        setenv("XDG_CONFIG_HOME", m_path.c_str(), 1);
#endif
    }
    ~CTemporaryConfigHome()
    {
#ifdef _WIN32
        _putenv_s("XDG_CONFIG_HOME", "");
#else
        unsetenv("XDG_CONFIG_HOME");
#endif
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTemporaryConfigHome(const CTemporaryConfigHome&) = delete;
    CTemporaryConfigHome& operator=(const CTemporaryConfigHome&) = delete;

private:
    std::filesystem::path m_path;
};

} // namespace kelvbench
