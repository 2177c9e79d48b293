#include "host/console.h"

namespace cv {

void UseBinaryStandardStreams() {}  // POSIX streams carry bytes as they are

}  // namespace cv
