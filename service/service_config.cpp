#include "service/service_config.h"

#include <cstdlib>
#include <iostream>
#include <iterator>
#include <sstream>

#include "host/private_file.h"

namespace cvadmind {
namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool ParseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t* value) {
    char* end = nullptr;
    unsigned long number = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < low || number > high) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

bool ReadSecretFile(const std::string& path, std::string* text, std::string* error) {
    switch (cv::ReadPrivateFile(path.c_str(), text)) {
        case cv::PrivateRead::kRead:
            return true;
        case cv::PrivateRead::kOpenToOthers:
            // As with a key of ssh: a secret that others can read is no longer one, and a file that
            // others can change could name the credentials or the library that the service runs.
            *error = path + " can be read or changed by other users; chmod 600 " + path;
            return false;
        case cv::PrivateRead::kCannotRead:
            break;
    }
    *error = "cannot read " + path;
    return false;
}

}  // namespace

bool ReadCredentials(const std::string& path, std::string* credentials, std::string* error) {
    std::string text;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (!ReadSecretFile(path, &text, error)) {
        return false;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty() || text.find_first_of("\r\n") != std::string::npos) {
        *error = (path == "-" ? std::string("standard input") : path) +
                 " does not hold one line of credentials";
        return false;
    }
    *credentials = text;
    return true;
}

bool ParseListenAddress(const std::string& text, std::string* address, uint16_t* port) {
    std::string::size_type colon = text.rfind(':');
    uint32_t number = 0;
    if (colon == std::string::npos || colon == 0 ||
        !ParseNumber(text.substr(colon + 1), 0, 65535, &number)) {
        return false;
    }
    *address = text.substr(0, colon);
    *port = static_cast<uint16_t>(number);
    return true;
}

bool LoadServiceConfig(const std::string& path, ServiceConfig* config, std::string* error) {
    std::string text;
    if (!ReadSecretFile(path, &text, error)) return false;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        std::string::size_type equals = line.find('=');
        std::string where = path + ":" + std::to_string(number) + ": ";
        if (equals == std::string::npos) {
            *error = where + "expected NAME = VALUE";
            return false;
        }
        std::string name = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        bool ok = true;
        if (name == "listen") {
            ok = ParseListenAddress(value, &config->listen_address, &config->listen_port);
        } else if (name == "protocol") {
            // A protocol no client sends would refuse every client: better said at the start.
            if (value != "PLAIN") {
                *error = where + "unknown protocol '" + value + "' (known: PLAIN)";
                return false;
            }
            config->protocol = value;
        } else if (name == "credentials") {
            config->credentials = value;
        } else if (name == "credentials-file") {
            std::string why;
            if (!ReadCredentials(value, &config->credentials, &why)) {
                *error = where + why;
                return false;
            }
        } else if (name == "library") {
            std::istringstream words(value);
            ServiceConfig::Library library;
            words >> library.name;
            std::getline(words, library.path);
            library.path = Trim(library.path);
            ok = !library.name.empty() && !library.path.empty();
            if (ok) config->libraries.push_back(library);
        } else if (name == "idle-timeout") {
            ok = ParseNumber(value, 1, 3600, &config->idle_timeout_seconds);
        } else if (name == "max-connections") {
            ok = ParseNumber(value, 1, 4096, &config->max_connections);
        } else if (name == "log-file") {
            config->log_file = value;
            ok = !value.empty();
        } else {
            *error = where + "unknown setting '" + name + "'";
            return false;
        }
        if (!ok) {
            *error = where + "bad value for '" + name + "'";
            return false;
        }
    }
    if (config->credentials.empty()) {
        *error = path + ": credentials must be set";
        return false;
    }
    return true;
}

}  // namespace cvadmind
