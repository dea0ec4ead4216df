#include "base/report.h"

#include <stdio_ext.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "base/terminal.h"

namespace {

// The status line and the writes it must make way for.
std::mutex output_mutex;
std::string status_line;  // shown when not empty

// Back to the start of the line, and the line cleared.
constexpr const char *erase_line = "\r\033[K";

// Set once, by the first write to standard output that fails: what follows
// it may fail for the same reason, and the first tells why.
std::atomic<int> stdout_error{0};

void note_stdout_failure(int error)
{
    int none = 0;
    stdout_error.compare_exchange_strong(none, error != 0 ? error : EIO);
}

void erase_status()
{
    if (status_line.empty()) return;
    std::fputs(erase_line, stderr);
    std::fflush(stderr);
}

void draw_status()
{
    if (status_line.empty()) return;
    flush_standard_output();  // what went before stays before it on a shared terminal
    std::fputs(erase_line, stderr);
    std::fputs(status_line.c_str(), stderr);
    std::fflush(stderr);
}

std::string &program_name_storage()
{
    static std::string name = "vistrel";
    return name;
}

thread_local report_log *current_log = nullptr;

void vreport(std::FILE *stream, const char *format, va_list args)
{
    if (current_log)
        current_log->emplace_back(stream, format_text(format, args));
    else
        write_out(stream, format_text(format, args));
}

}  // namespace

void set_program_name(std::string name) { program_name_storage() = std::move(name); }

const std::string &program_name() { return program_name_storage(); }

std::string format_text(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    // The analyzer, run over several files in one process, loses sight of the
    // va_copy above and takes the copy for uninitialized.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) static_cast<void>(std::vsnprintf(text.data(), text.size() + 1, format, args));
    return text;
}

void write_out(std::FILE *stream, const std::string &line)
{
    const bool terminal = is_terminal(stream);
    std::lock_guard lock(output_mutex);
    // Only what reaches the terminal has to make way for the line.
    if (terminal) erase_status();
    if (std::fputs(terminal ? terminal_safe(line).c_str() : line.c_str(), stream) == EOF &&
        stream == stdout)
        note_stdout_failure(errno);
    if (terminal) draw_status();
}

int standard_output_error() { return stdout_error.load(); }

void flush_standard_output()
{
    if (std::fflush(stdout) != 0) note_stdout_failure(errno);
}

int close_standard_output()
{
    // As the GNU tools do: what was left unwritten, or a write that failed
    // before and left no errno behind, is a failure; a descriptor closed
    // before the run started is one only when something was to be written.
    const bool pending = __fpending(stdout) != 0;
    const bool failed_before = std::ferror(stdout) != 0;
    if (std::fclose(stdout) != 0 && (pending || errno != EBADF)) note_stdout_failure(errno);
    if (failed_before) note_stdout_failure(EIO);
    return stdout_error.load();
}

void show_status_line(const std::string &text)
{
    if (!is_terminal(stderr)) return;
    std::lock_guard lock(output_mutex);
    erase_status();
    status_line = text;
    draw_status();
}

void set_report_log(report_log *log) { current_log = log; }

report_log *current_report_log() { return current_log; }

void replay_report_log(const report_log &log)
{
    for (const auto &[stream, line] : log) {
        if (current_log)
            current_log->emplace_back(stream, line);
        else
            write_out(stream, line);
    }
}

void report_out(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vreport(stdout, format, args);
    va_end(args);
}

void report_err(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vreport(stderr, format, args);
    va_end(args);
}

void report_failure(const failure &error)
{
    report_err("%s: %s", program_name().c_str(), error.text.c_str());
}
