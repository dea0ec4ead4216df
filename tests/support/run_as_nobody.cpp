#include "support/run_as_nobody.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "support/temp_dir.h"

extern char **environ;

namespace {

constexpr uid_t nobody = 65534;

}  // namespace

void open_to_everyone(const std::string &dir)
{
    if (chmod(dir.c_str(), 0777) != 0) throw std::runtime_error("cannot chmod " + dir);
}

namespace {

// Runs vistrel as `user` (changed to only when the tests run as root), its
// processes limited to `processes`.
run_result run_vistrel_as(uid_t user, const std::vector<std::string> &args, rlim_t processes)
{
    temp_dir scratch;
    open_to_everyone(scratch.path);
    const std::string out_path = scratch.file("stdout");
    const std::string err_path = scratch.file("stderr");

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("vistrel"));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    // LeakSanitizer looks for leaks from a thread of its own, which the
    // process limit may not allow.
    std::string asan_options = "ASAN_OPTIONS=";
    if (const char *given = std::getenv("ASAN_OPTIONS")) asan_options += std::string(given) + ":";
    asan_options += "detect_leaks=0";
    std::vector<char *> environment;
    for (char **variable = environ; *variable; ++variable)
        if (!std::string_view(*variable).starts_with("ASAN_OPTIONS="))
            environment.push_back(*variable);
    if (processes != RLIM_INFINITY) environment.push_back(asan_options.data());
    environment.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(125);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
            _exit(126);
        // Set once the user is changed: a change of user that finds the
        // limit exceeded makes the exec fail.
        const rlimit limit{processes, processes};
        if (processes != RLIM_INFINITY && setrlimit(RLIMIT_NPROC, &limit) != 0) _exit(126);
        execve(vistrel_binary().c_str(), argv.data(), environment.data());
        _exit(127);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    run_result result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

}  // namespace

run_result run_vistrel_as_nobody(const std::vector<std::string> &args)
{
    if (geteuid() != 0) return run_vistrel(args);
    return run_vistrel_as(nobody, args, RLIM_INFINITY);
}

run_result run_vistrel_with_process_limit(const std::vector<std::string> &args, rlim_t processes)
{
    // Below nobody and the system's users, where a container maps user ids
    // too; one per test process, so that two at once do not count each other.
    const auto user = static_cast<uid_t>(40000 + getpid() % 10000);
    return run_vistrel_as(user, args, processes);
}
