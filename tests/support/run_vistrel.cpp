#include "support/run_vistrel.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

namespace {

std::string slurp(const std::string &path)
{
    std::string text;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

}  // namespace

const std::string &vistrel_binary()
{
    static const std::string path = VISTREL_BINARY;
    return path;
}

run_result run_program(const std::string &argv0, const std::vector<std::string> &args)
{
    // Streams go to files rather than pipes: no reader thread, no deadlock
    // on large output, and the bytes are exactly what the program wrote.
    temp_dir scratch;
    const std::string out_path = scratch.file("stdout");
    const std::string err_path = scratch.file("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(argv0.c_str()));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid;
    extern char **environ;
    const int rc = posix_spawn(&pid, vistrel_binary().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("posix_spawn failed");

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    run_result result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

run_result run_vistrel(const std::vector<std::string> &args)
{
    return run_program("vistrel", args);
}
