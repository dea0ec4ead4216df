// Every link of a gallery's pages, followed on disk: what a visitor's
// browser would ask for, and whether the gallery has it.
#pragma once

#include <string>
#include <vector>

// One reference of a page that leads nowhere: the page (relative to the
// gallery) and the reference as written in it.
struct broken_link {
    std::string page;
    std::string target;
};

// Reads every .html file under root (hidden directories included, as the
// pages are where the program writes them) and resolves every reference in
// it: href and src attributes, every candidate of a srcset, and the
// Escape target of the -a script; links with a scheme (the footer's home
// page) are left alone. A reference is percent-decoded, resolved against
// its page's directory, and must name an existing file inside root.
// Returns the references that do not, and counts those it checked.
std::vector<broken_link> broken_links(const std::string &root, size_t *checked = nullptr);
