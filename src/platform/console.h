// The console: the Linux port's text front end reads and writes through it.
#pragma once

#include <string>

namespace platform {

// Whether standard input / output is a terminal a person sits at.
bool StdinIsTerminal();
bool StdoutIsTerminal();
// Calls handler (from a signal context: it must only set a flag) on Ctrl+C.
void SetInterruptHandler(void (*handler)());
// One line from standard input without its line end; false at the end of input.
// An interrupt while waiting returns false with interrupted set.
bool ReadConsoleLine(std::string& line, bool& interrupted);

}  // namespace platform
