#include <pictura/OperationThreads.h>

#include "KvFilters.h"

// The filters' setting governs the point operations too.
void SetOperationThreads(int Count) {
    KvKernels::SetFilterThreads(Count);
}

int OperationThreads() {
    return KvKernels::FilterThreads();
}
