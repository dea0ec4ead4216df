#include "support/jpeg_fixture.h"
#include <stdexcept>
// placeholder until the fixture maker lands
std::vector<uint8_t> fixture_pixels(const fixture_spec &) { throw std::runtime_error("todo"); }
std::vector<uint8_t> make_jpeg(const fixture_spec &) { throw std::runtime_error("todo"); }
void write_jpeg(const std::string &, const fixture_spec &) { throw std::runtime_error("todo"); }
decoded_jpeg decode_jpeg(const std::string &, int) { throw std::runtime_error("todo"); }
