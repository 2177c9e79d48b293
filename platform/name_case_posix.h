// Store file names compare without regard to letter case, as on Windows, where a Calendar folder
// may have been written or copied from: "_INDEX.XML" is the folder's "_index.xml". A POSIX file
// system tells the two apart, so the seam looks for such a twin when the exact name is not there.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cv {
namespace posix {

// The path under which the file system holds `native` (a path with slashes) when its exact name
// is not there: each missing component is looked for among its folder's entries without regard
// to ASCII letter case. When several entries differ from the name only in case, the smallest in
// byte order is taken. False when no entry matches, or the path is there exactly after all.
bool FindCaseTwin(const std::string& native, std::string* actual);

// Whether the folder holds, beside the entry `native` itself, another that differs from it only in
// letter case.
bool HasOtherCaseTwin(const std::string& native);

// For a file about to be created: `native` itself when no entry of its folder matches it without
// regard to case, else the matching entry's path. The exact name, when present, is its own match.
std::string CreationName(const std::string& native);

// The name under which a file is to be opened or made, when its folder's listing is kept in
// memory already: the entry itself or its case twin when one is there, else `native` as given.
// False when it is not known without looking.
bool KnownName(const std::string& native, std::string* actual);

// Whether an entry named `native` (a path with slashes), in any letter case, is in its folder,
// when that folder's listing is kept in memory already (true, with *exists telling): a look-up
// that then needs no system call but the reading of the change queue. False when it is not known
// without looking.
bool KnownToExist(const std::string& native, bool* exists);

// The entries of `folder` (a path with slashes) for which `match` holds, in no particular order,
// when that folder's listing is kept in memory already; false when it is not, and *names is left
// alone.
bool KnownNamesMatching(const std::string& folder,
                        const std::function<bool(const std::string&)>& match,
                        std::vector<std::string>* names);

}  // namespace posix
}  // namespace cv
