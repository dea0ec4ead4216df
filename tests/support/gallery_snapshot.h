// A whole gallery as bytes, to compare two runs' results file by file.
#pragma once

#include <map>
#include <string>

// Every regular file under root (by its path relative to root) and its
// bytes, the pages' footer time blanked: two runs at different moments
// compare equal when they wrote the same.
std::map<std::string, std::string> snapshot(const std::string &root);
