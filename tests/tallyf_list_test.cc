#include <gtest/gtest.h>
TEST(Placeholder, Builds) {}
[[noreturn]] void usage(char **) { std::exit(64); }
