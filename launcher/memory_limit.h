// Whether the process may allocate what the payload's decoder needs.
#ifndef VORLAN_MEMORY_LIMIT_H
#define VORLAN_MEMORY_LIMIT_H

#include "decoding_needs.h"

#include <stdint.h>

// The least of the soft limits on the address space and the data segment
// (ulimit -v, ulimit -d); UINT64_MAX when neither is set.
uint64_t allocation_limit();

// Refuses, after one line naming both, a decoder that needs more memory
// than `limit`; 0 when it fits.
int check_memory(const decoding_needs &needs, uint64_t limit);

#endif
