// The default stylesheet: written into a gallery that has none, and never
// over anything the gallery has under its name.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/run_vistrel.h"
#include "support/temp_dir.h"

namespace {

const std::string &shipped_stylesheet()
{
    static const std::string bytes = read_file(VISTREL_STYLESHEET);
    return bytes;
}

TEST(stylesheet, written_when_missing)
{
    temp_dir gallery;
    make_dir(gallery.file("album"));
    const run_result r = run_vistrel({gallery.path});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(is_regular_file(gallery.file("vistrel.css")));
    EXPECT_EQ(read_file(gallery.file("vistrel.css")), shipped_stylesheet());
    EXPECT_FALSE(file_exists(gallery.file("vistrel.css.tmp")));
    // Nothing about it on either stream: the output is as it always was.
    EXPECT_EQ(r.out.find("vistrel.css"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

struct kept_case {
    const char *name;
    // Puts something at gallery/vistrel.css; outside is a directory beside the gallery.
    std::function<void(const std::string &gallery, const std::string &outside)> plant;
    std::function<void(const std::string &gallery, const std::string &outside)> check;
};

TEST(stylesheet, anything_under_its_name_is_left_alone)
{
    const kept_case cases[] = {
        {"own stylesheet",
         [](const std::string &g, const std::string &) {
             write_file(g + "/vistrel.css", "body { color: red }\n");
             set_mtime(g + "/vistrel.css", 1000000000);
         },
         [](const std::string &g, const std::string &) {
             EXPECT_EQ(read_file(g + "/vistrel.css"), "body { color: red }\n");
             EXPECT_EQ(mtime_of(g + "/vistrel.css"), 1000000000);
         }},
        {"link to a stylesheet",
         [](const std::string &g, const std::string &o) {
             write_file(o + "/shared.css", "p { margin: 0 }\n");
             ASSERT_EQ(symlink((o + "/shared.css").c_str(), (g + "/vistrel.css").c_str()), 0);
         },
         [](const std::string &g, const std::string &o) {
             EXPECT_TRUE(is_symlink(g + "/vistrel.css"));
             EXPECT_EQ(read_file(o + "/shared.css"), "p { margin: 0 }\n");
         }},
        {"dangling link",
         [](const std::string &g, const std::string &o) {
             ASSERT_EQ(symlink((o + "/absent.css").c_str(), (g + "/vistrel.css").c_str()), 0);
         },
         [](const std::string &g, const std::string &o) {
             EXPECT_TRUE(is_symlink(g + "/vistrel.css"));
             EXPECT_FALSE(file_exists(o + "/absent.css"));  // not followed to make it
         }},
        {"directory",
         [](const std::string &g, const std::string &) { make_dir(g + "/vistrel.css"); },
         [](const std::string &g, const std::string &) {
             struct stat status;
             ASSERT_EQ(lstat((g + "/vistrel.css").c_str(), &status), 0);
             EXPECT_TRUE(S_ISDIR(status.st_mode));
         }},
    };
    for (const kept_case &c : cases) {
        SCOPED_TRACE(c.name);
        temp_dir parent;
        const std::string gallery = parent.file("gallery");
        const std::string outside = parent.file("outside");
        make_dir(gallery);
        make_dir(outside);
        make_dir(gallery + "/album");
        c.plant(gallery, outside);
        const run_result r = run_vistrel({gallery});
        EXPECT_EQ(r.status, 0) << r.err;
        c.check(gallery, outside);
        EXPECT_FALSE(file_exists(gallery + "/vistrel.css.tmp"));
    }
}

}  // namespace
