// URLs of local files, as tests hand them to the browser and read them back.
#pragma once

#include <string>

// file:// URL of an absolute path, every byte but unreserved ones and '/'
// percent-encoded.
std::string file_url(const std::string &path);

// Every %XX replaced by its byte; anything else, a lone % included, as it is.
std::string percent_decode(const std::string &text);
