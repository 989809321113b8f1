#include "engine/write_text.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "digest/digest.h"
#include "engine/caller_duties.h"
#include "binding/gil.h"
#include "engine/hasher.h"
#include "engine/text_chunks.h"
#include "binding/arguments.h"
#include "binding/run_entry.h"
#include "pool/worker_pool.h"
#include "sinks/fd_sink.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::PendingError;
using binding::GilHold;
using binding::GilRelease;

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
  bool raw = false;          // the file is an io.RawIOBase: its write() returns None to say
                             // "would block", having taken nothing
};

// Whether `file` is a raw binary file (io.RawIOBase). Requires the GIL; -1 with the error set.
int is_raw_file(PyObject* file) {
  PyObject* io = PyImport_ImportModule("io");
  if (io == nullptr) return -1;
  PyObject* raw_type = PyObject_GetAttrString(io, "RawIOBase");
  Py_DECREF(io);
  if (raw_type == nullptr) return -1;
  const int raw = PyObject_IsInstance(file, raw_type);
  Py_DECREF(raw_type);
  return raw;
}

// The target of an argument: an int is a file descriptor (>= 0), anything else a file object.
// Requires the GIL.
[[nodiscard]] std::variant<Target, PendingError> read_target(PyObject* value) {
  Target target;
  if (PyLong_Check(value)) {
    target.fd = PyLong_AsInt(value);
    if (target.fd == -1 && PyErr_Occurred()) return PendingError::fetch();
    if (target.fd < 0) return PendingError(PyExc_ValueError, "a file descriptor is >= 0");
    return target;
  }
  target.file = value;
  const int raw = is_raw_file(value);
  if (raw < 0) return PendingError::fetch();
  target.raw = raw != 0;
  return target;
}

// Waits up to SIGNAL_INTERVAL for `fd` to take bytes. Returns 0 (writable, time is up, or an
// error state that the next write reports) or the errno of poll. Blocking: call without the GIL.
int poll_writable(int fd) noexcept {
  pollfd entry{fd, POLLOUT, 0};
  const int ready = ::poll(&entry, 1, static_cast<int>(SIGNAL_INTERVAL.count()));
  return ready < 0 && errno != EINTR ? errno : 0;
}

// Writes all of `bytes` to `fd` with the GIL released, looking at signals after an interrupted or
// short write and while a non-blocking descriptor is full. Returns the error to raise, if any.
[[nodiscard]]
std::optional<PendingError> write_to_fd(int fd, std::string_view bytes, GilRelease& gil,
                                        CallerDuties& duties) {
  for (;;) {
    std::size_t count = 0;
    int failure = write_until_interrupted(fd, bytes, count);
    bytes.remove_prefix(count);
    if (failure == 0) return std::nullopt;
    if (failure == EAGAIN || failure == EWOULDBLOCK) failure = poll_writable(fd);
    if (failure != 0 && failure != EINTR) {
      GilHold hold(gil);
      return os_error(failure);
    }
    if (!duties.signals()) return PendingError();  // the error is set
  }
}

// A raw file's write() returned None: its non-blocking stream took nothing. Waits, with the GIL
// released, at most SIGNAL_INTERVAL for the descriptor behind it to take bytes, then looks at
// signals; a file with no descriptor raises BlockingIOError carrying the count of the chunk's bytes
// already taken, as io's buffered files do. Requires the GIL. False with the error set.
bool wait_until_writable(PyObject* file, std::size_t taken, std::size_t left) {
  const int fd = PyObject_AsFileDescriptor(file);
  if (fd < 0) {
    PyErr_Clear();
    PyObject* message = PyUnicode_FromFormat(
        "the file object's write() returned None for %zu bytes: it can take nothing now and has "
        "no descriptor to wait on",
        left);
    if (message == nullptr) return false;
    PyObject* error = PyObject_CallFunction(PyExc_BlockingIOError, "iOn", EAGAIN, message,
                                            static_cast<Py_ssize_t>(taken));
    Py_DECREF(message);
    if (error == nullptr) return false;
    PyErr_SetObject(PyExc_BlockingIOError, error);
    Py_DECREF(error);
    return false;
  }
  int failure = 0;
  Py_BEGIN_ALLOW_THREADS
  failure = poll_writable(fd);
  Py_END_ALLOW_THREADS
  if (failure != 0) {
    errno = failure;
    PyErr_SetFromErrno(PyExc_OSError);
    return false;
  }
  return PyErr_CheckSignals() == 0;  // the caller writes again, and waits again if need be
}

// Writes `data` (a bytes object of `size` bytes) to a file object, going on after short writes
// with views of the rest. A count outside 1 to the bytes offered, or anything but an int (None
// from a file that is not raw: it took everything, as buffered files do), is an OSError that
// shows what write() returned. Requires the GIL. False with the interpreter's error set.
bool write_to_file(const Target& target, PyObject* data, std::size_t size) {
  PyObject* whole = nullptr;  // a view of data, made at the first short write
  std::size_t taken = 0;
  bool ok = true;
  while (ok && taken < size) {
    PyObject* offered = data;
    if (taken != 0) {
      if (whole == nullptr && (whole = PyMemoryView_FromObject(data)) == nullptr) return false;
      offered = PySequence_GetSlice(whole, static_cast<Py_ssize_t>(taken),
                                    static_cast<Py_ssize_t>(size));
      if (offered == nullptr) break;
    }
    PyObject* result = PyObject_CallMethod(target.file, "write", "O", offered);
    if (offered != data) Py_DECREF(offered);
    if (result == nullptr) break;
    const std::size_t left = size - taken;
    if (result == Py_None) {
      if (target.raw) {
        ok = wait_until_writable(target.file, taken, left);
      } else {
        taken = size;
      }
      Py_DECREF(result);
      continue;
    }
    int overflow = 0;
    const long long count = PyLong_Check(result) ? PyLong_AsLongLongAndOverflow(result, &overflow)
                                                 : -1;
    if (count == -1 && PyErr_Occurred()) PyErr_Clear();
    if (overflow != 0 || count < 1 || static_cast<unsigned long long>(count) > left) {
      PyErr_Format(PyExc_OSError,
                   "the file object's write() returned %R for %zu bytes: it must return the "
                   "count of bytes it took, from 1 to %zu",
                   result, left, left);
      ok = false;
    } else {
      taken += static_cast<std::size_t>(count);
    }
    Py_DECREF(result);
  }
  Py_XDECREF(whole);
  return ok && taken == size;
}

struct Written {
  std::uint64_t entities = 0;
  std::uint64_t text_bytes = 0;
  std::uint64_t bytes = 0;
  std::optional<DigestValue> digest;
  std::optional<DigestValue> text_digest;
};

// The loop of one call, run with the GIL released. Returns an error to raise, or nothing.
[[nodiscard]] std::optional<PendingError> stream_to_target(TextStream& stream, const Target& target,
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
      PyObject* data =
          PyBytes_FromStringAndSize(chunk.bytes.data(), static_cast<Py_ssize_t>(chunk.bytes.size()));
      const bool done = data != nullptr && write_to_file(target, data, chunk.bytes.size());
      Py_XDECREF(data);
      if (!done) return PendingError::fetch();
    } else {
      if (auto error = write_to_fd(target.fd, chunk.bytes, gil, duties)) return error;
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

}  // namespace

CallResult write_stream(PyObject* target, std::unique_ptr<TextStream> stream, PyObject* digest,
                        PyObject* progress) {
  auto where = read_target(target);
  if (auto* error = std::get_if<PendingError>(&where)) return std::move(*error);
  std::optional<DigestAlgorithm> algorithm;
  if (digest != Py_None) {
    DigestAlgorithm named{};
    if (auto error = binding::take(read_digest_algorithm(digest, "digest"), named)) {
      return std::move(*error);
    }
    algorithm = named;
  }
  if (progress == Py_None) progress = nullptr;
  if (progress != nullptr && !PyCallable_Check(progress)) {
    return PendingError(PyExc_TypeError, "progress must be a callable or None");
  }
  return write_text_impl(std::get<Target>(where), std::move(stream), algorithm, progress);
}

namespace {

constexpr const char* BYTES_PARAMS[] = {"target", "data"};
constexpr binding::Signature BYTES_SIGNATURE{"write_bytes", BYTES_PARAMS, 2};

CallResult write_bytes_impl(const Target& target, PyObject* data) {
  if (target.file != nullptr) {
    // The file object may keep what it is given: hand it bytes of its own.
    PyObject* bytes = PyBytes_FromObject(data);
    if (bytes == nullptr) return PendingError::fetch();
    const bool done = write_to_file(target, bytes, static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
    if (!done) return PendingError::fetch();
    Py_RETURN_NONE;
  }
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) != 0) return PendingError::fetch();
  std::optional<PendingError> failure;
  {
    GilRelease gil;
    CallerDuties duties(gil, nullptr, 0);
    failure = write_to_fd(
        target.fd, std::string_view(static_cast<const char*>(view.buf), view.len), gil, duties);
  }
  PyBuffer_Release(&view);
  if (failure) return std::move(*failure);
  Py_RETURN_NONE;
}

PyObject* write_bytes_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  return binding::run_entry([&]() -> CallResult {
    PyObject* bound[2];
    if (auto error = binding::bind_arguments(BYTES_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    auto target = read_target(bound[0]);
    if (auto* error = std::get_if<PendingError>(&target)) return std::move(*error);
    return write_bytes_impl(std::get<Target>(target), bound[1]);
  });
}

}  // namespace

PyMethodDef write_bytes_def = {
    "write_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_bytes_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "write_bytes(target, data)\n--\n\n"
    "Write all of a bytes-like object to a file descriptor or a binary file object, as\n"
    "a table's text is written."};

}  // namespace tessary::engine
