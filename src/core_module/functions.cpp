#include "core_module/functions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include "pipeline/generate.h"
#include "binding/arguments.h"
#include "binding/generated_text.h"
#include "binding/panic_exception.h"
#include "binding/pending_error.h"
#include "binding/run_entry.h"
#include "pool/collect_indexed.h"
#include "pool/thread_count.h"
#include "random/seed.h"
#include "base/panic.h"

namespace tessary::core_module {
namespace {

using binding::bind_arguments;
using binding::CallResult;
using binding::api_call_failed;
using binding::PendingError;
using binding::run_entry;
using binding::Signature;
using binding::to_u64;
using binding::to_utf8;

// --- make_seed ---------------------------------------------------------------------------------

constexpr const char* MAKE_SEED_PARAMS[] = {"seed"};
constexpr Signature MAKE_SEED_SIGNATURE{"make_seed", MAKE_SEED_PARAMS, 0};

CallResult make_seed_impl(std::optional<std::uint64_t> seed) {
  PyObject* result = PyLong_FromUnsignedLongLong(tessary::make_seed(seed));
  if (result == nullptr) return api_call_failed();
  return result;
}

PyObject* make_seed_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return run_entry([&]() -> CallResult {
    PyObject* bound[1];
    if (auto error = bind_arguments(MAKE_SEED_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    std::optional<std::uint64_t> seed;
    if (bound[0] != nullptr && bound[0] != Py_None) {
      auto converted = to_u64(bound[0], "seed");
      if (auto* error = std::get_if<PendingError>(&converted)) return std::move(*error);
      seed = std::get<std::uint64_t>(converted);
    }
    return make_seed_impl(seed);
  });
}

// --- generate_entities -------------------------------------------------------------------------

constexpr const char* GENERATE_PARAMS[] = {"seed", "scale", "specs_json"};
constexpr Signature GENERATE_SIGNATURE{"generate_entities", GENERATE_PARAMS, 3};

// Polls for signals while the caller waits; a handler's exception cancels the call.
bool signal_raised() {
  return PyErr_CheckSignals() != 0;
}

CallResult generate_entities_impl(std::uint64_t seed, std::uint64_t scale,
                                  std::string_view specs_json) {
  // A signal handler runs while this thread waits for the pool; a call from it would wait for
  // itself.
  if (collect_indexed_waiting_on_this_thread()) {
    return PendingError(PyExc_RuntimeError,
                        "generate_entities() cannot be called while another call on this thread "
                        "is waiting (for example from a signal handler)");
  }

  CollectControl control;
  control.poll = signal_raised;
  const GenerateLimits limits{static_cast<std::uint64_t>(PY_SSIZE_T_MAX), physical_memory_bytes()};
  GenerateResult result = tessary::generate_entities(seed, scale, specs_json, limits, control);

  if (const ReadError* error = std::get_if<ReadError>(&result)) {
    return PendingError(PyExc_ValueError, error->display());
  }
  if (const OutputTooLarge* large = std::get_if<OutputTooLarge>(&result)) {
    return binding::too_large_error(scale, *large);
  }
  // A handler that raised after the last piece had started found nothing left to cancel: the work
  // completed, but the handler's exception is set and ends the call all the same.
  if (std::holds_alternative<Cancelled>(result) || PyErr_Occurred())
    return PendingError();  // the handler's exception is set
  // Release the blocks as soon as the str holds their bytes.
  GeneratedText text = std::move(std::get<GeneratedText>(result));
  return binding::text_to_str(text);
}

PyObject* generate_entities_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                  PyObject* kwnames) {
  return run_entry([&]() -> CallResult {
    PyObject* bound[3];
    if (auto error = bind_arguments(GENERATE_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    auto seed = to_u64(bound[0], "seed");
    if (auto* error = std::get_if<PendingError>(&seed)) return std::move(*error);
    auto scale = to_u64(bound[1], "scale");
    if (auto* error = std::get_if<PendingError>(&scale)) return std::move(*error);
    auto specs = to_utf8(bound[2], "specs_json");
    if (auto* error = std::get_if<PendingError>(&specs)) return std::move(*error);
    return generate_entities_impl(std::get<std::uint64_t>(seed), std::get<std::uint64_t>(scale),
                                  std::get<std::string_view>(specs));
  });
}

}  // namespace

PyMethodDef make_seed_def = {
    "make_seed", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(make_seed_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "make_seed(seed=None)\n--\n\n"
    "Return a u64 seed derived from an optional user-supplied seed.\n"
    "Passing None draws from the OS entropy source."};

PyMethodDef generate_entities_def = {
    "generate_entities",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(generate_entities_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "generate_entities(seed, scale, specs_json)\n--\n\n"
    "Generate `scale` entities using Monte Carlo sampling.\n\n"
    "`specs_json` is a JSON array of attribute spec objects, e.g.:\n"
    "  [{\"name\":\"age\",\"type\":\"uniform_int\",\"low\":18,\"high\":80}, ...]\n\n"
    "Returns a JSON string (array of entity objects)."};

}  // namespace tessary::core_module
