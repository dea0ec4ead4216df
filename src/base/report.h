// Where messages go: progress on standard output, notes and failures on
// standard error. On a job thread of run_ordered they are kept in the job's
// log and written out in job order; on a terminal, control bytes in them
// show as \xHH, so a name cannot command the terminal, nor fake a line.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/failure.h"

// The name the program was invoked by, which starts every failure message
// and every codec warning. Set once, before any work starts.
void set_program_name(std::string name);
const std::string &program_name();

// One line each, its format ending in the newline that ends it: on a
// terminal, a newline anywhere else came in a name and shows as \x0A.
void report_out(const char *format, ...) __attribute__((format(printf, 1, 2)));
void report_err(const char *format, ...) __attribute__((format(printf, 1, 2)));

// "<program>: " + the failure's text, on standard error.
void report_failure(const failure &error);

// printf into a string.
std::string format_text(const char *format, va_list args);

// The log a job thread's reports go to instead of the streams; null outside
// a job. Set by the job runner around each job.
using report_log = std::vector<std::pair<std::FILE *, std::string>>;
void set_report_log(report_log *log);
report_log *current_report_log();

// Reports again what a log holds, in its order, as the calls that made it
// would have reported it here.
void replay_report_log(const report_log &log);

// Writes one line to the stream at once, made safe when it is a terminal.
// A status line shown is erased first and shown again after it.
void write_out(std::FILE *stream, const std::string &line);

// The errno of standard output's first write that failed, 0 while every
// one went through. A buffered write may fail only when it is flushed.
int standard_output_error();

// Writes out what standard output holds, a failure noted as above.
void flush_standard_output();

// Flushes and closes standard output, once nothing more will be written to
// it, and returns standard_output_error(). A standard output closed before
// the run is no failure while nothing was written to it.
int close_standard_output();

// The status line: one line on standard error, when that is a terminal,
// rewritten in place; an empty text erases it. Safe on any thread.
void show_status_line(const std::string &text);
