// The check of an image's payload against the digest its header stores.
#ifndef VORLAN_VERIFY_H
#define VORLAN_VERIFY_H

#include "payload.h"

// 0 when the stored payload has the header's digest; FAILURE when it has
// another, or after reporting a failed read. A terminal sees the progress.
int verify_payload(const payload &stored);

#endif
