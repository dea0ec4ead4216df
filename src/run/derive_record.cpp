#include "run/derive_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string_view>

#include "run/messages.h"
#include "run/options.h"

namespace {

// The second line says which kind of run wrote the record: after parts,
// the pages run must match them; after a whole run, another whole run may
// change the options, as it always could.
constexpr std::string_view from_parts = "from parts";
constexpr std::string_view from_whole_run = "from a whole run";

// Temporary names: "<record><run tag>.tmp", unique to the run, so
// that parts on several machines never write one file.
constexpr std::string_view temporary_suffix = ".tmp";

// Far more than a record ever holds.
constexpr size_t largest_record = 4096;

struct derive_record {
    derive_options options;
    bool by_parts = false;
};

// One side of a difference: "-H 360", "-l", or "no -l".
std::string said(char letter, const std::string *argument)
{
    if (letter == '?' && argument) return *argument;
    std::string text = argument ? "-" : "no -";
    text += letter;
    if (argument && !argument->empty()) {
        text += ' ';
        text += *argument;
    }
    return text;
}

void add_word(std::string &text, const std::string &word, const char *between = " ")
{
    if (!text.empty()) text += between;
    text += word;
}

std::string options_text(const derive_options &options)
{
    std::string text;
    for (const auto &[letter, argument] : options) add_word(text, said(letter, &argument));
    return text;
}

std::string record_text(const derive_record &record)
{
    return options_text(record.options) + '\n' +
           std::string(record.by_parts ? from_parts : from_whole_run) + '\n';
}

// What a record says; a line that is no option is taken for one that
// differs, so that a damaged record is named rather than trusted.
derive_record parse_record(std::string_view text)
{
    derive_record record;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    const std::string_view rest = end == std::string_view::npos ? "" : text.substr(end + 1);
    record.by_parts = rest.starts_with(from_parts);
    while (!line.empty()) {
        const size_t space = line.find(' ');
        const std::string_view word = line.substr(0, space);
        line = space == std::string_view::npos ? "" : line.substr(space + 1);
        if (word.empty()) continue;
        if (word.size() == 2 && word[0] == '-' && word[1] != '-') {
            record.options.emplace_back(word[1], "");
        } else if (!record.options.empty() && record.options.back().second.empty() &&
                   word[0] != '-') {
            record.options.back().second = word;
        } else {
            record.options.emplace_back('?', word);
        }
    }
    return record;
}

const std::string *find(const derive_options &options, char letter)
{
    for (const auto &[given, argument] : options)
        if (given == letter) return &argument;
    return nullptr;
}

// The options that differ, as the record has them and as this run has them.
std::optional<std::pair<std::string, std::string>> difference(const derive_options &recorded,
                                                              const derive_options &run)
{
    std::vector<char> letters;
    for (const auto &[letter, argument] : run) letters.push_back(letter);
    for (const auto &[letter, argument] : recorded)
        if (!find(run, letter)) letters.push_back(letter);
    std::string there, here;
    for (const char letter : letters) {
        const std::string *was = find(recorded, letter);
        const std::string *is = find(run, letter);
        if (letter != '?' && was && is && *was == *is) continue;
        // A word of a damaged record.
        if (letter == '?' && !was) continue;
        add_word(there, said(letter, was), ", ");
        if (letter != '?') add_word(here, said(letter, is), ", ");
    }
    if (there.empty() && here.empty()) return std::nullopt;
    return std::pair{there, here.empty() ? options_text(run) : here};
}

// The record, or nothing when the gallery has none.
result<std::optional<derive_record>> read_record(const open_dir &gallery,
                                                 const std::string &operand)
{
    unique_fd file(openat(gallery.fd.fd, derive_record_name,
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file) {
        if (errno == ENOENT) return std::optional<derive_record>();
        if (errno == ELOOP || errno == ENXIO) return message::derive_record_not_a_file(operand);
        return message::cant_read_derive_record(operand);
    }
    struct stat status;
    if (fstat(file.fd, &status) != 0) return message::cant_read_derive_record(operand);
    if (!S_ISREG(status.st_mode)) return message::derive_record_not_a_file(operand);
    std::string text(largest_record, '\0');
    size_t length = 0;
    while (length < text.size()) {
        const ssize_t got =
            pread(file.fd, text.data() + length, text.size() - length, static_cast<off_t>(length));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return message::cant_read_derive_record(operand);
        if (got == 0) break;
        length += static_cast<size_t>(got);
    }
    text.resize(length);
    return std::optional<derive_record>(parse_record(text));
}

std::string temporary_name()
{
    return std::string(derive_record_name) + run_tag() + std::string(temporary_suffix);
}

enum class placing {
    replace,     // whatever is there goes
    only_first,  // taken only when there is none: false when another run was first
};

// Writes the record under a name of its own, then gives it the record's
// name: a record is always whole. Returns false when it was not placed
// because another run placed one first (placing::only_first).
result<bool> write_record(const open_dir &gallery, const std::string &operand,
                          const derive_record &record, placing how)
{
    const int dir = gallery.fd.fd;
    const std::string temporary = temporary_name();
    unique_fd file(
        openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file) return message::cant_write_derive_record(operand);
    const std::string text = record_text(record);
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = write(file.fd, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            failure failed = message::cant_write_derive_record(operand);
            unlinkat(dir, temporary.c_str(), 0);
            return failed;
        }
        written += static_cast<size_t>(put);
    }
    if (fsync(file.fd) != 0 || close(file.release()) != 0) {
        failure failed = message::cant_write_derive_record(operand);
        unlinkat(dir, temporary.c_str(), 0);
        return failed;
    }
    bool placed = true;
    if (how == placing::only_first) {
        // A link fails where a name is taken: of runs started together, one
        // records and the others compare with it.
        if (linkat(dir, temporary.c_str(), dir, derive_record_name, 0) != 0) {
            if (errno == EEXIST) {
                placed = false;
            } else if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
                // A file system without links: the last of such runs wins.
                how = placing::replace;
            } else {
                failure failed = message::cant_write_derive_record(operand);
                unlinkat(dir, temporary.c_str(), 0);
                return failed;
            }
        }
    }
    if (how == placing::replace) {
        if (renameat(dir, temporary.c_str(), dir, derive_record_name) != 0) {
            failure failed = message::cant_write_derive_record(operand);
            unlinkat(dir, temporary.c_str(), 0);
            return failed;
        }
        return true;
    }
    unlinkat(dir, temporary.c_str(), 0);
    return placed;
}

outcome refused(const std::string &operand, const derive_options &recorded,
                const derive_options &run)
{
    const auto differ = difference(recorded, run);
    return message::derive_options_differ(operand, differ->first, differ->second);
}

}  // namespace

derive_options shaping_options(const settings_record &config)
{
    // One entry for every row of the option table that `derives`, but -m,
    // which sets -2, -b, -i, -V and -R (parts_test gives each to one side
    // alone).
    derive_options shaping = {
        {'h', std::to_string(config.thumb_height)},
        {'H', std::to_string(config.scaled_height)},
    };
    if (config.bilinear) shaping.emplace_back('l', "");
    if (config.double_density) shaping.emplace_back('2', "");
    if (config.big_screens) shaping.emplace_back('b', "");
    if (config.heif_photos) shaping.emplace_back('i', "");
    if (config.videos) shaping.emplace_back('V', "");
    if (config.album_tree) shaping.emplace_back('R', "");
    return shaping;
}

outcome check_derive_record(const open_dir &gallery, const std::string &operand,
                            const settings_record &config)
{
    const bool part = config.part.count > 0;
    const derive_record own{shaping_options(config), part};
    if (config.force) {
        result<bool> written = write_record(gallery, operand, own, placing::replace);
        return written.ok() ? outcome() : outcome(written.error());
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        result<std::optional<derive_record>> recorded = read_record(gallery, operand);
        if (!recorded.ok()) return recorded.error();
        if (!*recorded) {
            // A gallery made before records were kept, or a new one.
            result<bool> written =
                write_record(gallery, operand, own, part ? placing::only_first : placing::replace);
            if (!written.ok()) return written.error();
            if (*written) return {};
            continue;  // another part recorded first: compare with it
        }
        const derive_record &found = **recorded;
        const bool same = !difference(found.options, own.options);
        if (!same && (part || found.by_parts)) return refused(operand, found.options, own.options);
        // A whole run records what its files are now made with.
        if (!part && record_text(found) != record_text(own)) {
            result<bool> written = write_record(gallery, operand, own, placing::replace);
            if (!written.ok()) return written.error();
        }
        return {};
    }
    return {};
}

void remove_derive_record_leftovers(const open_dir &gallery, const std::vector<dir_entry> &entries)
{
    const std::string prefix = std::string(derive_record_name) + ".";
    for (const dir_entry &entry : entries)
        if (entry.type == DT_REG && entry.name.starts_with(prefix) &&
            entry.name.ends_with(temporary_suffix))
            unlinkat(gallery.fd.fd, entry.name.c_str(), 0);
}
