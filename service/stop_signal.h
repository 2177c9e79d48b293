// Ctrl+C and termination requests for our long-running programs (cvadmind). The handler may run
// in a signal context: it must do no more than set flags and shut sockets down.
#pragma once

namespace cv {

void OnStopRequest(void (*handler)());

}  // namespace cv
