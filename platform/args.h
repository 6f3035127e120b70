// The process's command line and its own module path, as the platform hands
// them over.
//
// On Windows the command line arrives as one text that the program splits
// itself; elsewhere the caller (a shell or an agent's exec) has split it
// already and the program's entry passes the pieces in through
// set_process_arguments before start-up runs.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Stores the arguments the process entry received (argv[0] included). Only
// the posix backend keeps them; on Windows the command line is read instead.
void set_process_arguments(int argc, char** argv);

// The whole command line as one text (Windows: GetCommandLineA). Empty where
// the arguments arrive pre-split.
const char* command_line();

// The character after the one at `p` in the ANSI code page (a double-byte
// character is stepped over whole). At the terminating NUL it returns `p`
// itself, so a walk can never step past the end of its text.
const char* char_next(const char* p);

// Full path of the running executable file, whatever name or path the
// program was started with.
std::string module_path();

// True when the arguments arrive pre-split (posix): then process_arguments
// holds them and command_line is not used.
bool arguments_presplit();

// The arguments after element 0, as given to set_process_arguments; empty
// arguments are kept. Always empty on Windows.
std::vector<std::string> process_arguments();

}  // namespace platform
