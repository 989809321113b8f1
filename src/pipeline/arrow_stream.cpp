#include "pipeline/arrow_stream.h"

#include <cerrno>
#include <new>
#include <string>

#include "records/panic.h"

namespace tessary {
namespace {

struct ExportedStream {
  std::unique_ptr<BatchStream> stream;
  std::string last_error;
  int failure = 0;  // once set, every later get_next reports it again
};

ExportedStream& exported(ArrowArrayStream* stream) {
  return *static_cast<ExportedStream*>(stream->private_data);
}

int get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  ExportedStream& self = exported(stream);
  try {
    export_arrow_schema(self.stream->schema(), out);
    return 0;
  } catch (const std::bad_alloc&) {
    self.last_error = "out of memory while exporting the schema";
    return ENOMEM;
  } catch (const Panic& panic) {
    self.last_error = panic.message();
    return EIO;
  }
}

int get_next(ArrowArrayStream* stream, ArrowArray* out) {
  ExportedStream& self = exported(stream);
  if (self.failure != 0) return self.failure;
  try {
    BatchStream::Batch batch = self.stream->next();
    if (batch.status == OrderedWindow::Status::Ready) {
      batch.array.move(out);
      return 0;
    }
    if (batch.status == OrderedWindow::Status::End) {
      out->release = nullptr;
      return 0;
    }
    self.last_error = "the stream was cancelled";
    self.failure = ECANCELED;
  } catch (const std::bad_alloc&) {
    self.last_error = "out of memory while generating entities";
    self.failure = ENOMEM;
  } catch (const Panic& panic) {
    self.last_error = panic.message();
    self.failure = EIO;
  }
  return self.failure;
}

const char* get_last_error(ArrowArrayStream* stream) {
  const ExportedStream& self = exported(stream);
  return self.last_error.empty() ? nullptr : self.last_error.c_str();
}

void release(ArrowArrayStream* stream) {
  auto* self = static_cast<ExportedStream*>(stream->private_data);
  if (self->stream) self->stream->cancel();
  delete self;  // waits for the batches in flight
  stream->release = nullptr;
}

}  // namespace

void export_batch_stream(std::unique_ptr<BatchStream> stream, ArrowArrayStream* out) {
  auto* self = new ExportedStream{std::move(stream), {}, 0};
  out->get_schema = get_schema;
  out->get_next = get_next;
  out->get_last_error = get_last_error;
  out->release = release;
  out->private_data = self;
}

}  // namespace tessary
