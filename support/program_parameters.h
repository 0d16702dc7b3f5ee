// The tool's own start: the command-line parameters handed out one per call, the rule that
// splits one command-line text into tokens, and the path of the running executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How many parameters NextParameter has returned so far. Only NextParameter raises it.
extern int32_t parametersTaken;

// Keeps the arguments after the program's own name (argv[0]), converted from UTF-8, for
// NextParameter. main() calls it once before anything asks for a parameter. On Windows the
// parameters come from the UTF-16 command line and argv is not used.
void SetProgramArguments(int argc, char** argv);

// 1 when the index-th parameter (from 0) arrived as UTF-8 text, so that its UTF-16 form names
// the same file; 0 when it held other bytes (they became U+FFFD). 1 beyond the last, and
// always on Windows, whose command line is UTF-16 text.
int32_t ParameterIsText(int32_t index);

// The next parameter, or an empty text once all have been taken. An empty argument counts
// as a parameter of its own. On Linux the parameters are main()'s arguments; on Windows they
// are the tokens after the first of GetCommandLineW(), cut by SplitCommandLine on each call.
std::u16string NextParameter();

// Splits a command-line text into its tokens, the program name first. Tokens are separated
// by runs of spaces (tabs are ordinary characters). A token that starts with a double quote
// runs to the next double quote or the end, without the quotes, and whatever follows the
// closing quote starts a new token. There are no escapes: "" is an empty token and a quote
// inside an unquoted token belongs to it.
std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine);

// The full path of the running executable, or empty when the OS will not tell. On Windows an
// extended-length ("\\?\") path comes back in its plain form.
std::u16string OwnExecutablePath();
