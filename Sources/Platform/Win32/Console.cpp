#include "Platform/Console.h"

#include <io.h>
#include <stdio.h>

namespace zel::platform
{

bool isTerminal(EStdStream stream)
{
    return _isatty(_fileno(stream == EStdStream::output ? stdout : stderr)) != 0;
}

} // namespace zel::platform
