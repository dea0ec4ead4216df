#include "support/capture_output.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct file_closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

// Points fd at a fresh anonymous file until restored.
struct redirect {
    int fd;
    int saved;
    std::unique_ptr<std::FILE, file_closer> sink;

    explicit redirect(int target) : fd(target), saved(dup(target)), sink(std::tmpfile())
    {
        if (saved < 0 || !sink || dup2(fileno(sink.get()), fd) < 0) {
            std::perror("capture_output");
            std::abort();
        }
    }

    std::string restore()
    {
        dup2(saved, fd);
        close(saved);
        std::string text;
        std::rewind(sink.get());
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, sink.get())) > 0;)
            text.append(buffer, n);
        return text;
    }
};

}  // namespace

captured_output capture_output(const std::function<void()> &code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    redirect out(STDOUT_FILENO);
    redirect err(STDERR_FILENO);
    code();
    std::fflush(stdout);
    std::fflush(stderr);
    captured_output result;
    result.out = out.restore();
    result.err = err.restore();
    return result;
}
