#include "support/gallery_snapshot.h"

#include <filesystem>
#include <regex>

#include "support/temp_dir.h"

std::map<std::string, std::string> snapshot(const std::string &root)
{
    namespace fs = std::filesystem;
    static const std::regex when("generated [^\n]*\n with");
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] =
                std::regex_replace(read_file(entry.path().string()), when, "generated WHEN with");
    return files;
}
