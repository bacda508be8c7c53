#pragma once

#include <string>
#include <vector>

// The web-page starter: hands the maker's web page to the desktop's default
// browser and ends. It shows nothing, reads no settings and no command line,
// and shares nothing with the main program.
namespace modKZHP {

inline constexpr const char ProgramTitle[] = "kzhpstart";
inline constexpr const char WebAddress[] = "https://www.talviro.example";
// The desktop's "open" operation: the default application for an address.
inline constexpr const char Opener[] = "xdg-open";

// The directory that holds the running executable, without a trailing slash;
// empty when it cannot be found out.
std::string executableDirectory();

// Starts program (looked up on PATH) with the given arguments, in its own
// session, with standard input and output on /dev/null, and does not wait
// for it. No shell is involved: every argument reaches the program as it is.
// True when the program could be started.
bool startDetached(const std::string &program, const std::vector<std::string> &arguments,
                   const std::string &workingDirectory);

// The start-up procedure: opens the web page from the executable's directory.
// Whether the opener could be started is not reported; the answer is the
// program's exit code, always 0.
int Main();

} // namespace modKZHP
