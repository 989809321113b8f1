// A BatchStream as an Arrow C stream (ArrowArrayStream), for consumers in any language.
//
// The exported stream owns the BatchStream, and with it its copy of the specs; it never touches
// Python objects, so consumers may pull batches from their own threads and keep the stream after
// whatever made it is gone. Its callbacks follow the Arrow C stream interface: one thread at a
// time. get_next returns batches in id order, then an array whose release is null at the end. A
// sampler's failure makes get_next return EIO and get_last_error the panic's message (the lowest
// failing id's); running out of memory returns ENOMEM. release, from any thread, early or late,
// cancels the batches in flight, waits for them and frees everything.
#pragma once

#include <memory>

#include "nanoarrow/nanoarrow.h"
#include "pipeline/batch_stream.h"

namespace tessary {

// Moves `stream` into `out`, which must not hold a live stream.
void export_batch_stream(std::unique_ptr<BatchStream> stream, ArrowArrayStream* out);

}  // namespace tessary
