// kelvatrone-render: renders audio files through the Kelvatrone plug-in module, loaded as a
// host loads it. See CRenderOptions::usage() for the command line. Exit status 0 on success,
// 1 when the render failed (one line on standard error, no output file), 2 for a bad command
// line.

#include "RenderOptions.h"
#include "Renderer.h"

#include <cstdio>

int main(int argc, char** argv)
{
    kelvtools::SRenderOptions options;
    if (const zel::CErrorPtr err = kelvtools::CRenderOptions::parse(argc, argv, options))
    {
        std::fprintf(stderr, "kelvatrone-render: %s\n", err->text().c_str());
        return 2;
    }
    if (options.help || argc < 2)
    {
        std::fprintf(options.help ? stdout : stderr, "%s", kelvtools::CRenderOptions::usage());
        return options.help ? 0 : 2;
    }
    kelvtools::CRenderer renderer;
    if (const zel::CErrorPtr err = renderer.run(options, stdout))
    {
        std::fflush(stdout);
        std::fprintf(stderr, "kelvatrone-render: %s\n", err->text().c_str());
        return 1;
    }
    return 0;
}
