// The texts of cvadmind's help that its man pages are made from too: the reference of the
// configuration file (--help-config, cvadmind.conf(5)) and the closing sections of --help.
#pragma once

namespace cvadmind {

// Every setting of the configuration file with its default, as service_config.cpp reads it.
extern const char kConfigHelp[];

// The environment, files, exit status and examples, printed after the options of --help.
extern const char kHelpSections[];

}  // namespace cvadmind
