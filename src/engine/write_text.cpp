#include "engine/write_text.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "digest/digest.h"
#include "engine/caller_duties.h"
#include "engine/gil.h"
#include "engine/hasher.h"
#include "engine/text_chunks.h"
#include "module/arguments.h"
#include "module/run_entry.h"
#include "pool/worker_pool.h"
#include "sinks/fd_sink.h"

namespace tessary::engine {
namespace {

using module::CallResult;
using module::PendingError;

// OSError (or the subclass its errno selects) with errno and strerror set. Requires the GIL.
PendingError os_error(int number) {
  PyObject* error = PyObject_CallFunction(PyExc_OSError, "is", number, std::strerror(number));
  if (error == nullptr) return PendingError::fetch();
  PendingError pending;
  pending.fetched = error;
  return pending;
}

// Where the bytes go: a file descriptor, or a Python file object.
struct Target {
  int fd = -1;
  PyObject* file = nullptr;  // borrowed
};

// Writes one chunk to a file object, going on after short writes. Requires the GIL. False with the
// interpreter's error set on failure.
bool write_to_file(PyObject* file, std::string_view bytes) {
  while (!bytes.empty()) {
    PyObject* piece =
        PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    if (piece == nullptr) return false;
    PyObject* result = PyObject_CallMethod(file, "write", "O", piece);
    Py_DECREF(piece);
    if (result == nullptr) return false;
    std::size_t written = bytes.size();  // None or a count: a buffered file takes everything
    if (result != Py_None) {
      const Py_ssize_t count = PyLong_AsSsize_t(result);
      if (count == -1 && PyErr_Occurred()) {
        Py_DECREF(result);
        return false;
      }
      written = count < 0 ? 0 : static_cast<std::size_t>(count);
    }
    Py_DECREF(result);
    if (written == 0 || written > bytes.size()) {
      PyErr_Format(PyExc_OSError, "the file object's write() returned %zu for %zu bytes", written,
                   bytes.size());
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

struct Written {
  std::uint64_t entities = 0;
  std::uint64_t text_bytes = 0;
  std::uint64_t bytes = 0;
  std::optional<DigestValue> digest;
  std::optional<DigestValue> text_digest;
};

// The loop of one call, run with the GIL released. Returns an error to raise, or nothing.
std::optional<PendingError> stream_to_target(TextStream& stream, const Target& target,
                                             std::optional<DigestAlgorithm> digest,
                                             PyObject* progress, GilRelease& gil,
                                             Written& written) {
  const TextStreamOptions& options = stream.options();
  const bool compressed = options.compression != Compression::None;
  CallerDuties duties(gil, progress, options.stop - options.start);
  std::unique_ptr<Digest> bytes_digest, text_digest;
  if (digest) {
    bytes_digest = make_digest(*digest);
    if (compressed) text_digest = make_digest(*digest);
  }
  const CollectControl control = duties.control();
  for (;;) {
    const TextStream::Chunk chunk = stream.next(control);
    if (chunk.status == OrderedWindow::Status::End) break;
    if (chunk.status == OrderedWindow::Status::Stopped) return PendingError();  // error is set
    if (bytes_digest) bytes_digest->update(chunk.bytes);
    if (text_digest) text_digest->update(chunk.text);
    if (target.file != nullptr) {
      GilHold hold(gil);
      if (!write_to_file(target.file, chunk.bytes)) return PendingError::fetch();
    } else {
      std::string_view rest = chunk.bytes;
      for (;;) {
        std::size_t count = 0;
        const int failure = write_all(target.fd, rest, count);
        rest.remove_prefix(count);
        if (failure == 0) break;
        if (failure != EINTR) {
          GilHold hold(gil);
          return os_error(failure);
        }
        if (!duties.now(written.entities, written.bytes, false)) return PendingError();
      }
    }
    written.entities += chunk.entities;
    written.text_bytes += chunk.text.size();
    written.bytes += chunk.bytes.size();
    if (!duties.due(written.entities, written.bytes)) return PendingError();
  }
  if (progress != nullptr && !duties.now(written.entities, written.bytes, true)) {
    return PendingError();
  }
  if (bytes_digest) written.digest = bytes_digest->finish();
  if (text_digest) written.text_digest = text_digest->finish();
  if (digest && !compressed) written.text_digest = written.digest;
  return std::nullopt;
}

PyObject* hex_or_none(const std::optional<DigestValue>& digest) {
  if (!digest) return Py_NewRef(Py_None);
  const std::string hex = to_hex(*digest);
  return PyUnicode_FromStringAndSize(hex.data(), static_cast<Py_ssize_t>(hex.size()));
}

CallResult write_text_impl(const Target& target, std::unique_ptr<TextStream> stream,
                           std::optional<DigestAlgorithm> digest, PyObject* progress) {
  Written written;
  std::optional<PendingError> failure;
  {
    GilRelease gil;
    failure = stream_to_target(*stream, target, digest, progress, gil, written);
    stream.reset();  // waits for the blocks in flight, with the GIL released
  }
  if (failure) return std::move(*failure);
  PyObject* digest_text = hex_or_none(written.digest);
  PyObject* text_digest_text = hex_or_none(written.text_digest);
  PyObject* result = nullptr;
  if (digest_text != nullptr && text_digest_text != nullptr) {
    result = Py_BuildValue("KKKOO", static_cast<unsigned long long>(written.entities),
                           static_cast<unsigned long long>(written.text_bytes),
                           static_cast<unsigned long long>(written.bytes), digest_text,
                           text_digest_text);
  }
  Py_XDECREF(digest_text);
  Py_XDECREF(text_digest_text);
  if (result == nullptr) return PendingError::fetch();
  return result;
}

constexpr const char* WRITE_PARAMS[] = {"target", "chunks", "digest", "progress"};
constexpr module::Signature WRITE_SIGNATURE{"write_text", WRITE_PARAMS, 4};

PyObject* write_text_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                           PyObject* kwnames) {
  return module::run_entry([&]() -> CallResult {
    PyObject* bound[4];
    if (auto error = module::bind_arguments(WRITE_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    Target target;
    if (PyLong_Check(bound[0])) {
      target.fd = PyLong_AsInt(bound[0]);
      if (target.fd == -1 && PyErr_Occurred()) return PendingError::fetch();
      if (target.fd < 0) return PendingError(PyExc_ValueError, "a file descriptor is >= 0");
    } else {
      target.file = bound[0];
    }
    std::optional<DigestAlgorithm> digest;
    if (bound[2] != Py_None) {
      auto algorithm = read_digest_algorithm(bound[2], "digest");
      if (auto* error = std::get_if<PendingError>(&algorithm)) return std::move(*error);
      digest = std::get<DigestAlgorithm>(algorithm);
    }
    PyObject* progress = bound[3] == Py_None ? nullptr : bound[3];
    if (progress != nullptr && !PyCallable_Check(progress)) {
      return PendingError(PyExc_TypeError, "progress must be a callable or None");
    }
    std::unique_ptr<TextStream> stream = take_unstarted_stream(module, bound[1]);
    if (stream == nullptr) return PendingError::fetch();
    return write_text_impl(target, std::move(stream), digest, progress);
  });
}

}  // namespace

PyMethodDef write_text_def = {
    "write_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_text_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "write_text(target, chunks, digest, progress)\n--\n\n"
    "Stream the text of an unread iter_text() iterator to a file descriptor or a binary file\n"
    "object.\n"
    "Returns (entities, text_bytes, bytes_written, digest, text_digest)."};

}  // namespace tessary::engine
