#include "support/run_as_nobody.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

namespace {

constexpr uid_t nobody = 65534;

}  // namespace

void open_to_everyone(const std::string &dir)
{
    if (chmod(dir.c_str(), 0777) != 0) throw std::runtime_error("cannot chmod " + dir);
}

run_result run_vistrel_as_nobody(const std::vector<std::string> &args)
{
    if (geteuid() != 0) return run_vistrel(args);

    temp_dir scratch;
    open_to_everyone(scratch.path);
    const std::string out_path = scratch.file("stdout");
    const std::string err_path = scratch.file("stderr");

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("vistrel"));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

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
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(126);
        execv(vistrel_binary().c_str(), argv.data());
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
