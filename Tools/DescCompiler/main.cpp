// kelv-desc: compiles the XML source of an object description into the binary form the
// library carries. Usage: kelv-desc SOURCE.xml OUTPUT
// The output is written only when compilation succeeds; errors go to standard error as
// "<source>:<line>: <message>" and the exit status is 1.

#include "DescCompiler/DescCompiler.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: kelv-desc SOURCE.xml OUTPUT\n");
        return 2;
    }
    std::vector<std::uint8_t> compiled;
    if (const zel::CErrorPtr err = zel::CDescCompiler::compileFile(argv[1], compiled))
    {
        std::fprintf(stderr, "kelv-desc: %s\n", err->text().c_str());
        return 1;
    }
    const std::string outPath = argv[2];
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(compiled.data()),
              static_cast<std::streamsize>(compiled.size()));
    out.close();
    if (!out)
    {
        std::fprintf(stderr, "kelv-desc: cannot write '%s'\n", outPath.c_str());
        std::remove(outPath.c_str());
        return 1;
    }
    return 0;
}
