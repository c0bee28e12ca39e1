// The threads the control's operations run on, for the whole process: the filters (Blur, Sharpen) and
// the point operations (Invert, Brightness, GreyScale, the envelopes). Any count gives the same bytes.
#pragma once

#include <pictura/PicturaPckExport.h>

// At most Count threads for each operation: 0 (the default) every hardware thread, 1 the calling thread
// only. Small pictures always run on one. Throws EArgumentError for a negative Count. Safe to call from
// any thread; operations already running keep the count they started with.
PICTURAPCK_EXPORT void SetOperationThreads(int Count);
// The count last set (0: every hardware thread).
PICTURAPCK_EXPORT int OperationThreads();
