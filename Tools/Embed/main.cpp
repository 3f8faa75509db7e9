// kelv-embed: writes the C++ source of the library's resource table.
// Usage: kelv-embed OUTPUT.cpp [NAME FILE]...
// Each NAME is the resource's name in the table, FILE the file whose bytes are its payload;
// the table keeps the order of the arguments. Errors go to standard error, exit status 1.

#include "Embed/ResourceEmbedder.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2 || argc % 2 != 0)
    {
        std::fprintf(stderr, "usage: kelv-embed OUTPUT.cpp [NAME FILE]...\n");
        return 2;
    }
    std::vector<zel::SEmbeddedResource> resources;
    for (int i = 2; i + 1 < argc; i += 2)
    {
        std::ifstream in(argv[i + 1], std::ios::binary);
        if (!in)
        {
            std::fprintf(stderr, "kelv-embed: cannot read '%s'\n", argv[i + 1]);
            return 1;
        }
        zel::SEmbeddedResource resource;
        resource.name = argv[i];
        resource.payload.assign(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
        if (in.bad())
        {
            std::fprintf(stderr, "kelv-embed: error reading '%s'\n", argv[i + 1]);
            return 1;
        }
        resources.push_back(std::move(resource));
    }
    std::string source;
    if (const zel::CErrorPtr err = zel::CResourceEmbedder::generate(resources, source))
    {
        std::fprintf(stderr, "kelv-embed: %s\n", err->text().c_str());
        return 1;
    }
    const std::string outPath = argv[1];
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out << source;
    out.close();
    if (!out)
    {
        std::fprintf(stderr, "kelv-embed: cannot write '%s'\n", outPath.c_str());
        std::remove(outPath.c_str());
        return 1;
    }
    return 0;
}
