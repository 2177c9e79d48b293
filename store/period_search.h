// Finding the line of a period file that holds an id, in a file read whole.
#pragma once

#include <string_view>

namespace cv {

// The last piece of a period file's text (as CutPiece cuts it, empty pieces aside) whose id
// matches a non-empty id (MatchesId), or false when there is none. The same as viewing every
// piece in turn, but only the pieces where the id is found are cut and viewed.
bool FindLastPieceWithId(std::string_view text, const char* id, std::string_view* found);

}  // namespace cv
