#include "support/golden.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

bool updating()
{
    const char *update = std::getenv("VISTREL_UPDATE_GOLDEN");
    return update && std::string(update) == "1";
}

}  // namespace

void expect_golden(const std::string &text, const std::string &name)
{
    const std::filesystem::path path = std::filesystem::path(VISTREL_GOLDEN_DIR) / name;
    if (updating()) {
        std::filesystem::create_directories(path.parent_path());
        write_file(path.string(), text);
        std::cerr << "golden file written: " << path.string() << "\n";
        return;
    }
    if (!file_exists(path.string())) {
        ADD_FAILURE() << "no golden file " << path.string()
                      << " (VISTREL_UPDATE_GOLDEN=1 writes it)";
        return;
    }
    EXPECT_EQ(text, read_file(path.string()))
        << "golden file " << path.string()
        << " (VISTREL_UPDATE_GOLDEN=1 rewrites it from this output)";
}
