// The wait cursor for the life of a scope: the preview's, which every window
// of the program uses.
#pragma once

#include "preview/preview_io.h"

namespace ostrel::app {

using WaitCursor = preview::PreviewWaitCursor;

}  // namespace ostrel::app
