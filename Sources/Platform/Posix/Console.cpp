#include "Platform/Console.h"

#include <unistd.h>

namespace zel::platform
{

bool isTerminal(EStdStream stream)
{
    return isatty(stream == EStdStream::output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

} // namespace zel::platform
