// cvadmind's configuration file: "name = value" lines, '#' comments.
//
//   listen = 127.0.0.1:8081            address and port to listen on
//   protocol = PLAIN                   the authentication protocol a client must name (PLAIN)
//   credentials = s3cret               the credentials a client must send (this or the next)
//   credentials-file = /path/secret    ... read from the first line of a file instead
//   library = CVAICP.DLL /path/lib.so  a library LOAD may name, and the file it loads (repeatable;
//                                      without any line: CVAICP.DLL, found beside cvadmind)
//   idle-timeout = 60                  seconds a client may take for one request
//   max-connections = 64               clients served at once; at the limit a newcomer takes
//                                      the place of a stranger (admission.h says which)
//   log-file = /var/log/cvadmind.log   log lines are appended here too (as a Windows service,
//                                      where nobody sees standard error: cvadmind.log beside
//                                      the configuration when not set)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cvadmind {

struct ServiceConfig {
    std::string listen_address = "127.0.0.1";
    uint16_t listen_port = 8081;
    std::string protocol;
    std::string credentials;
    struct Library {
        std::string name;  // as LOAD names it, compared without regard to case
        std::string path;  // the file loaded for it
    };
    std::vector<Library> libraries;
    uint32_t idle_timeout_seconds = 60;
    uint32_t max_connections = 64;
    std::string log_file;  // empty: none
};

// Reads the file; false with a one-line reason for a file that cannot be read, that other users
// can read or change (it holds or names the credentials, and names the libraries run), or a line
// that makes no sense.
bool LoadServiceConfig(const std::string& path, ServiceConfig* config, std::string* error);

// Credentials from the first line of a file, which other users must not be able to read or
// change, or of standard input for "-", without its line break; false with a one-line reason when
// there is none, there is more than one line or the file is open to others.
bool ReadCredentials(const std::string& path, std::string* credentials, std::string* error);

// Parses "ADDRESS:PORT" (an IPv4 address).
bool ParseListenAddress(const std::string& text, std::string* address, uint16_t* port);

}  // namespace cvadmind
