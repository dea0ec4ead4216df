#include <gtest/gtest.h>
TEST(gallery, placeholder) {}
