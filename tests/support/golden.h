// Expected output kept as files under tests/golden/, compared byte for byte.
//
// With VISTREL_UPDATE_GOLDEN=1 in the environment, what the test got is
// written as the golden file instead, and the comparison passes: for a
// change of the output made on purpose, whose diff of the golden files is
// then read before it is committed.
#pragma once

#include <string>

// Checks that `text` is golden file `name` (a path under tests/golden/);
// a difference fails the test and shows both.
void expect_golden(const std::string &text, const std::string &name);
