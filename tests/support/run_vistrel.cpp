#include "support/run_vistrel.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

extern char **environ;

namespace {

// Starts path with argv[0] and the arguments, standard input from /dev/null
// and the two output streams into the given files. In a process group of
// its own when asked, so that everything it starts can be stopped with it.
pid_t spawn(const std::string &path, const std::string &argv0, const std::vector<std::string> &args,
            const std::string &out_path, const std::string &err_path, bool own_group)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (own_group) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(argv0.c_str()));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("posix_spawn(" + path + ") failed");
    return pid;
}

int exit_status(int wstatus) { return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1; }

// The binary run to its end, standard output into out_path, which is read
// back when `read_out` says so.
run_result run_until_done(const std::string &argv0, const std::vector<std::string> &args,
                          const std::string &out_path, const std::string &err_path, bool read_out)
{
    const pid_t pid = spawn(vistrel_binary(), argv0, args, out_path, err_path, false);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    run_result result;
    result.status = exit_status(wstatus);
    if (read_out) result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
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
    return run_until_done(argv0, args, scratch.file("stdout"), scratch.file("stderr"), true);
}

run_result run_vistrel_into(const std::string &out_path, const std::vector<std::string> &args)
{
    temp_dir scratch;
    return run_until_done("vistrel", args, out_path, scratch.file("stderr"), false);
}

run_result run_command(const std::string &path, const std::vector<std::string> &args,
                       int timeout_seconds)
{
    temp_dir scratch;
    const std::string out_path = scratch.file("stdout");
    const std::string err_path = scratch.file("stderr");
    const pid_t pid = spawn(path, path, args, out_path, err_path, true);

    // A bound on a hung program, not a measurement: poll until it ends or
    // the time is up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    int wstatus = 0;
    bool ended = false;
    while (!ended) {
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) {
            ended = true;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            while (waitpid(pid, &wstatus, 0) < 0) {
            }
            wstatus = -1;
            ended = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Helpers the program left running in its group go with it.
    kill(-pid, SIGKILL);

    run_result result;
    result.status = wstatus == -1 ? -1 : exit_status(wstatus);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

pid_t start_vistrel(const std::vector<std::string> &args)
{
    return spawn(vistrel_binary(), "vistrel", args, "/dev/null", "/dev/null", false);
}

pid_t start_and_stop_at(const std::vector<std::string> &args, const std::string &sign)
{
    const pid_t pid = start_vistrel(args);
    for (;;) {
        if (file_exists(sign)) {
            kill(pid, SIGSTOP);
            int wstatus;  // a signal is delivered in its own time: wait until it has stopped
            waitpid(pid, &wstatus, WUNTRACED);
            return pid;
        }
        int wstatus;
        if (waitpid(pid, &wstatus, WNOHANG) == pid) {
            ADD_FAILURE() << "the run ended before it could be caught mid-way";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

int resume_and_wait(pid_t pid)
{
    kill(pid, SIGCONT);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    return exit_status(wstatus);
}

run_result run_vistrel(const std::vector<std::string> &args)
{
    return run_program("vistrel", args);
}
