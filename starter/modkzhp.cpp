#include "starter/modkzhp.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

namespace modKZHP {

std::string executableDirectory()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size())
        return std::string();
    path.resize(size_t(length));
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return std::string("/");
    return path.substr(0, slash);
}

bool startDetached(const std::string &program, const std::vector<std::string> &arguments,
                   const std::string &workingDirectory)
{
    std::vector<char *> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }

    // The browser must outlive us and the terminal we may have been started
    // from, and must not write into it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());

    pid_t pid = 0;
    const int result =
        posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);

    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0;
}

int Main()
{
    const std::string directory = executableDirectory();
    // The page opens from the program's own directory, whatever directory
    // the program was started from.
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
        // Nothing to report: the page opens from wherever we are.
    }
    // Whether the opener could be started is not reported.
    startDetached(Opener, {WebAddress}, directory);
    return 0;
}

} // namespace modKZHP
