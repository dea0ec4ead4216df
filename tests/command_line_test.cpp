#include <gtest/gtest.h>
TEST(command_line, placeholder) {}
