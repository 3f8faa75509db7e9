#pragma once
// Questions about the process's standard streams that only the operating system can answer.
// Used by command-line tools to decide whether to draw interactive output (a progress bar) or
// to stay quiet because their output goes to a file or a pipe. Not a console or terminal
// abstraction: nothing here writes to the streams.

namespace zel::platform
{

enum class EStdStream
{
    output,
    error
};

// True when the stream is attached to an interactive terminal.
bool isTerminal(EStdStream stream);

} // namespace zel::platform
