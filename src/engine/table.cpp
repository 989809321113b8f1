#include "engine/table.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <variant>

#include "base/panic.h"
#include "binding/arguments.h"
#include "binding/generated_text.h"
#include "binding/gil.h"
#include "binding/pending_error.h"
#include "binding/run_entry.h"
#include "columns/column_schema.h"
#include "engine/batches.h"
#include "engine/caller_duties.h"
#include "engine/check_specs_binding.h"
#include "engine/dataset.h"
#include "engine/engine_state.h"
#include "engine/output_options.h"
#include "engine/text_chunks.h"
#include "engine/write_text.h"
#include "pipeline/generate.h"
#include "pipeline/prepared_specs.h"
#include "pipeline/text_stream.h"
#include "pool/collect_indexed.h"
#include "pool/thread_count.h"
#include "pool/worker_pool.h"
#include "records/entity_record.h"
#include "sampling/build_entity.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::GilRelease;
using binding::PendingError;
using binding::take;

struct Table {
  PyObject_HEAD
  std::shared_ptr<const PreparedSpecs> specs;  // constructed in place by the allocating function
  PyObject* specs_json;                        // the str the specs were read from; strong
  std::uint64_t seed;
  std::uint64_t table_seed;  // what the entities are drawn under: the seed, or a data set's mix
  std::uint64_t scale;
  std::uint64_t start;
  std::uint64_t stop;
  PyObject* dataset;  // the data set it belongs to, or None; strong
  PyObject* name;     // its name in the data set, or None; strong
};

Table* as_table(PyObject* object) {
  return reinterpret_cast<Table*>(object);
}

PendingError range_error(std::uint64_t start, std::uint64_t stop, std::uint64_t scale) {
  return PendingError(PyExc_ValueError,
                      "the range must satisfy 0 <= start <= stop <= scale, not start=" +
                          std::to_string(start) + ", stop=" + std::to_string(stop) +
                          ", scale=" + std::to_string(scale));
}

struct IdRange {
  std::uint64_t start = 0;
  std::uint64_t stop = 0;
};

// The ids [start, stop) of a data set of `scale` entities: start defaults to 0 (null), stop to the
// scale (null or None). ValueError unless 0 <= start <= stop <= scale.
[[nodiscard]] std::variant<IdRange, PendingError> read_range(std::uint64_t scale, PyObject* start,
                                               PyObject* stop) {
  IdRange range{0, scale};
  if (start != nullptr) {
    if (auto error = take(binding::to_u64(start, "start"), range.start)) return std::move(*error);
  }
  if (stop != nullptr && stop != Py_None) {
    if (auto error = take(binding::to_u64(stop, "stop"), range.stop)) return std::move(*error);
  }
  if (!(range.start <= range.stop && range.stop <= scale)) {
    return range_error(range.start, range.stop, scale);
  }
  return range;
}

// A new table of `type` holding the specs, of no data set; the other fields are the caller's to
// set.
CallResult allocate(PyTypeObject* type, std::shared_ptr<const PreparedSpecs> specs,
                    PyObject* specs_json) {
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) return PendingError::fetch();
  Table* self = as_table(object);
  new (&self->specs) std::shared_ptr<const PreparedSpecs>(std::move(specs));
  self->specs_json = Py_NewRef(specs_json);
  self->dataset = Py_NewRef(Py_None);
  self->name = Py_NewRef(Py_None);
  return object;
}

// ---- construction and slicing

CallResult make_table(PyTypeObject* type, PyObject* seed, PyObject* scale, PyObject* specs_json,
                      PyObject* start, PyObject* stop) {
  std::uint64_t seed_value = 0, scale_value = 0;
  std::string_view text;
  IdRange range;
  if (auto error = take(binding::to_u64(seed, "seed"), seed_value)) return std::move(*error);
  if (auto error = take(binding::to_u64(scale, "scale"), scale_value)) return std::move(*error);
  if (auto error = take(binding::to_utf8(specs_json, "specs_json"), text)) {
    return std::move(*error);
  }
  if (auto error = take(read_range(scale_value, start, stop), range)) return std::move(*error);
  std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> read;
  {
    GilRelease gil;  // the text stays valid: the caller holds the str
    read = prepare_specs(text);
  }
  if (ReadError* error = std::get_if<ReadError>(&read)) {
    return PendingError(PyExc_ValueError, error->display());
  }
  if (std::optional<std::string> problem = scale_problem(
          std::get<std::shared_ptr<const PreparedSpecs>>(read)->specs, scale_value)) {
    return PendingError(PyExc_ValueError, *problem);
  }
  CallResult made =
      allocate(type, std::move(std::get<std::shared_ptr<const PreparedSpecs>>(read)), specs_json);
  if (PyObject** object = std::get_if<PyObject*>(&made)) {
    Table* self = as_table(*object);
    self->seed = seed_value;
    self->table_seed = seed_value;
    self->scale = scale_value;
    self->start = range.start;
    self->stop = range.stop;
  }
  return made;
}

PyObject* table_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"seed", "scale", "specs_json", "start", "stop", nullptr};
  PyObject *seed, *scale, *specs_json, *start = nullptr, *stop = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|$OO:Table", const_cast<char**>(keywords),
                                   &seed, &scale, &specs_json, &start, &stop)) {
    return nullptr;
  }
  return binding::run_entry([&] { return make_table(type, seed, scale, specs_json, start, stop); });
}

// _range(start, stop): the table of ids [start, stop) (absolute), sharing the specs.
PyObject* table_range(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
  return binding::run_entry([&]() -> CallResult {
    if (nargs != 2) return PendingError(PyExc_TypeError, "_range() takes 2 arguments");
    const Table* self = as_table(object);
    IdRange range;
    if (auto error = take(read_range(self->scale, args[0], args[1]), range)) {
      return std::move(*error);
    }
    CallResult made = allocate(Py_TYPE(object), self->specs, self->specs_json);
    if (PyObject** slice = std::get_if<PyObject*>(&made)) {
      Table* table = as_table(*slice);
      table->seed = self->seed;
      table->table_seed = self->table_seed;
      table->scale = self->scale;
      table->start = range.start;
      table->stop = range.stop;
      Py_SETREF(table->dataset, Py_NewRef(self->dataset));
      Py_SETREF(table->name, Py_NewRef(self->name));
    }
    return made;
  });
}

// ---- outputs


// The options of a text output of the table, with `fallback` when no format is given.
[[nodiscard]] std::variant<OutputChoice, PendingError> text_choice(PyObject* format,
                                                                   PyObject* compression,
                                                                   PyObject* level,
                                                                   OutputFormat fallback) {
  return resolve_output({nullptr, format, compression, level, fallback, true});
}

CallResult text_impl(const Table* self, PyObject* format) {
  OutputChoice choice;
  if (auto error = take(text_choice(format, nullptr, nullptr, OutputFormat::Json), choice)) {
    return std::move(*error);
  }
  // A signal handler runs while this thread waits for the pool; a call from it would wait for
  // itself.
  if (collect_indexed_waiting_on_this_thread()) {
    return PendingError(PyExc_RuntimeError,
                        "text() cannot be called while another call on this thread is waiting "
                        "(for example from a signal handler)");
  }
  const GenerateLimits limits{static_cast<std::uint64_t>(PY_SSIZE_T_MAX), physical_memory_bytes()};
  GenerateResult result;
  {
    GilRelease gil;
    CallerDuties duties(gil, nullptr, 0);
    result = generate_text(*self->specs, self->table_seed, self->start, self->stop,
                           text_format(choice.format), limits, duties.control());
  }
  if (const OutputTooLarge* large = std::get_if<OutputTooLarge>(&result)) {
    return binding::too_large_error(self->stop - self->start, *large);
  }
  if (std::holds_alternative<Cancelled>(result) || PyErr_Occurred()) return PendingError();
  GeneratedText text = std::move(std::get<GeneratedText>(result));
  return binding::text_to_str(text);
}

// The text stream of the table's range, planned with the GIL released (planning builds entity
// `start`, whose failure is raised here).
[[nodiscard]] std::variant<std::unique_ptr<TextStream>, PendingError> text_stream(const Table* self,
                                                                    PyObject* format,
                                                                    PyObject* compression,
                                                                    PyObject* level) {
  OutputChoice choice;
  if (auto error = take(text_choice(format, compression, level, OutputFormat::JsonLines), choice)) {
    return std::move(*error);
  }
  TextStreamOptions options;
  options.format = text_format(choice.format);
  options.compression = choice.compression;
  options.level = choice.level;
  options.start = self->start;
  options.stop = self->stop;
  GilRelease gil;
  return std::make_unique<TextStream>(self->specs, self->table_seed, options, global_pool());
}

CallResult chunks_impl(PyObject* object, PyObject* const* args) {
  PyObject* module = engine_module_of(Py_TYPE(object));
  if (module == nullptr) return PendingError::fetch();
  std::unique_ptr<TextStream> stream;
  if (auto error = take(text_stream(as_table(object), args[0], args[1], args[2]), stream)) {
    return std::move(*error);
  }
  return new_text_chunks(module, std::move(stream));
}

CallResult write_impl(PyObject* object, PyObject* const* args) {
  std::unique_ptr<TextStream> stream;
  if (auto error = take(text_stream(as_table(object), args[1], args[2], args[3]), stream)) {
    return std::move(*error);
  }
  return write_stream(args[0], std::move(stream), args[4], args[5]);
}

CallResult batches_impl(PyObject* object, PyObject* batch_rows) {
  PyObject* module = engine_module_of(Py_TYPE(object));
  if (module == nullptr) return PendingError::fetch();
  const Table* self = as_table(object);
  PlannedBatches planned;
  if (auto error = take(plan_batches(self->specs, self->table_seed, self->start, self->stop, batch_rows),
                        planned)) {
    return std::move(*error);
  }
  return new_batches(module, std::move(planned));
}

CallResult arrow_schema_impl(const Table* self) {
  auto planned = plan_columns(self->specs->specs, self->specs->layout);
  if (auto* error = std::get_if<ColumnSchemaError>(&planned)) {
    return PendingError(PyExc_ValueError, error->message);
  }
  nanoarrow::UniqueSchema schema;
  export_arrow_schema(std::get<ColumnSchema>(planned), schema.get());
  return schema_capsule(*schema.get());
}

CallResult arrow_stream_impl(const Table* self) {
  PlannedBatches planned;
  if (auto error = take(plan_batches(self->specs, self->table_seed, self->start, self->stop, nullptr),
                        planned)) {
    return std::move(*error);
  }
  return stream_capsule(std::move(planned.stream));
}

CallResult check_first_entity_impl(const Table* self) {
  if (self->start < self->stop) {
    GilRelease gil;
    QuietPanics quiet;
    EntityRecord record = make_entity_record(self->specs->layout);
    build_entity(self->table_seed, self->start, self->specs->specs, record);
  }
  return Py_NewRef(Py_None);
}

CallResult attributes_impl(const Table* self) {
  const std::vector<AttrSpec>& specs = self->specs->specs;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(specs.size()));
  if (list == nullptr) return PendingError::fetch();
  for (std::size_t k = 0; k < specs.size(); ++k) {
    const std::string_view kind = KIND_NAMES[specs[k].kind.index()];
    PyObject* pair = Py_BuildValue("(s#s#)", specs[k].name.data(),
                                   static_cast<Py_ssize_t>(specs[k].name.size()), kind.data(),
                                   static_cast<Py_ssize_t>(kind.size()));
    if (pair == nullptr) {
      Py_DECREF(list);
      return PendingError::fetch();
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), pair);
  }
  return list;
}

CallResult problems_impl(const Table* self) {
  if (self->dataset != Py_None) return dataset_table_problems(self->dataset, self->name);
  std::string_view text;
  if (auto error = take(binding::to_utf8(self->specs_json, "specs_json"), text)) {
    return std::move(*error);
  }
  return problem_list(text);
}

// ---- method entries

// Binds a method's arguments by the signature, then runs `body(bound)`.
template <std::size_t N, class Body>
PyObject* bound_entry(const binding::Signature& signature, PyObject* const* args,
                      Py_ssize_t nargsf, PyObject* kwnames, Body&& body) {
  return binding::run_entry([&]() -> CallResult {
    PyObject* bound[N] = {};
    if (auto error = binding::bind_arguments(signature, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    return body(bound);
  });
}

constexpr const char* TEXT_PARAMS[] = {"format"};
constexpr binding::Signature TEXT_SIGNATURE{"text", TEXT_PARAMS, 0};

PyObject* table_text(PyObject* object, PyObject* const* args, Py_ssize_t nargsf,
                     PyObject* kwnames) {
  return bound_entry<1>(TEXT_SIGNATURE, args, nargsf, kwnames,
                        [&](PyObject** bound) { return text_impl(as_table(object), bound[0]); });
}

constexpr const char* CHUNKS_PARAMS[] = {"format", "compression", "level"};
constexpr binding::Signature CHUNKS_SIGNATURE{"_chunks", CHUNKS_PARAMS, 3};

PyObject* table_chunks(PyObject* object, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) {
  return bound_entry<3>(CHUNKS_SIGNATURE, args, nargsf, kwnames,
                        [&](PyObject** bound) { return chunks_impl(object, bound); });
}

constexpr const char* WRITE_PARAMS[] = {"target", "format",  "compression",
                                        "level",  "digest", "progress"};
constexpr binding::Signature WRITE_SIGNATURE{"_write", WRITE_PARAMS, 6};

PyObject* table_write(PyObject* object, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  return bound_entry<6>(WRITE_SIGNATURE, args, nargsf, kwnames,
                        [&](PyObject** bound) { return write_impl(object, bound); });
}

constexpr const char* BATCHES_PARAMS[] = {"batch_rows"};
constexpr binding::Signature BATCHES_SIGNATURE{"_batches", BATCHES_PARAMS, 0};

PyObject* table_batches(PyObject* object, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames) {
  return bound_entry<1>(BATCHES_SIGNATURE, args, nargsf, kwnames,
                        [&](PyObject** bound) { return batches_impl(object, bound[0]); });
}

constexpr const char* STREAM_PARAMS[] = {"requested_schema"};
constexpr binding::Signature STREAM_SIGNATURE{"__arrow_c_stream__", STREAM_PARAMS, 0};

// A requested schema other than the table's own cannot be produced; consumers then cast.
PyObject* table_arrow_stream(PyObject* object, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) {
  return bound_entry<1>(STREAM_SIGNATURE, args, nargsf, kwnames,
                        [&](PyObject**) { return arrow_stream_impl(as_table(object)); });
}

PyObject* table_arrow_schema(PyObject* object, PyObject*) {
  return binding::run_entry([&] { return arrow_schema_impl(as_table(object)); });
}

PyObject* table_check_first_entity(PyObject* object, PyObject*) {
  return binding::run_entry([&] { return check_first_entity_impl(as_table(object)); });
}

PyObject* table_attributes(PyObject* object, PyObject*) {
  return binding::run_entry([&] { return attributes_impl(as_table(object)); });
}

PyObject* table_problems(PyObject* object, PyObject*) {
  return binding::run_entry([&] { return problems_impl(as_table(object)); });
}

// ---- attributes and the type

PyObject* get_u64(PyObject* object, void* field) {
  const Table* self = as_table(object);
  const std::uint64_t* value = reinterpret_cast<const std::uint64_t*>(
      reinterpret_cast<const char*>(self) + reinterpret_cast<std::size_t>(field));
  return PyLong_FromUnsignedLongLong(*value);
}

PyObject* get_specs_json(PyObject* object, void*) {
  return Py_NewRef(as_table(object)->specs_json);
}

PyObject* get_dataset(PyObject* object, void*) {
  return Py_NewRef(as_table(object)->dataset);
}

PyObject* get_name(PyObject* object, void*) {
  return Py_NewRef(as_table(object)->name);
}

PyObject* get_count(PyObject* object, void*) {
  const Table* self = as_table(object);
  return PyLong_FromUnsignedLongLong(self->stop - self->start);
}

void table_dealloc(PyObject* object) {
  Table* self = as_table(object);
  PyTypeObject* type = Py_TYPE(object);
  self->specs.~shared_ptr();
  Py_XDECREF(self->specs_json);
  Py_XDECREF(self->dataset);
  Py_XDECREF(self->name);
  type->tp_free(object);
  Py_DECREF(type);
}

#define TESSARY_FIELD(name) reinterpret_cast<void*>(offsetof(Table, name))

PyGetSetDef TABLE_GETSET[] = {
    {"seed", get_u64, nullptr, "The seed (of its data set, for a data set's table).",
     TESSARY_FIELD(seed)},
    {"table_seed", get_u64, nullptr,
     "The seed its entities are drawn under: the seed, or for a data set's table the mix of the "
     "data set's seed and the table's name.",
     TESSARY_FIELD(table_seed)},
    {"dataset", get_dataset, nullptr, "The data set it belongs to, or None.", nullptr},
    {"name", get_name, nullptr, "Its name in its data set, or None.", nullptr},
    {"scale", get_u64, nullptr, "The number of entities of the whole data set.",
     TESSARY_FIELD(scale)},
    {"start", get_u64, nullptr, "The first id of the range.", TESSARY_FIELD(start)},
    {"stop", get_u64, nullptr, "One past the last id of the range.", TESSARY_FIELD(stop)},
    {"specs_json", get_specs_json, nullptr, "The specs document the table was made from.",
     nullptr},
    {"count", get_count, nullptr, "The number of entities of the range: stop - start.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef TESSARY_FIELD

template <class F>
PyCFunction as_function(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef TABLE_METHODS[] = {
    {"text", as_function(table_text), METH_FASTCALL | METH_KEYWORDS,
     "text(format='json')\n--\n\nThe text of the range as one str: 'json' or 'jsonl'."},
    {"check_first_entity", table_check_first_entity, METH_NOARGS,
     "check_first_entity()\n--\n\n"
     "Build entity `start` and raise its failure, if any; nothing is written."},
    {"problems", table_problems, METH_NOARGS,
     "problems()\n--\n\nThe check_specs tuples of the table's specs."},
    {"attributes", table_attributes, METH_NOARGS,
     "attributes()\n--\n\nThe (name, kind) of every attribute spec, in list order."},
    {"__arrow_c_schema__", table_arrow_schema, METH_NOARGS,
     "__arrow_c_schema__()\n--\n\nThe schema of the table's batches, as an Arrow PyCapsule."},
    {"__arrow_c_stream__", as_function(table_arrow_stream), METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__(requested_schema=None)\n--\n\n"
     "A new Arrow C stream of the range's record batches, in a PyCapsule."},
    {"_range", as_function(table_range), METH_FASTCALL, nullptr},
    {"_chunks", as_function(table_chunks), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_write", as_function(table_write), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_batches", as_function(table_batches), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot TABLE_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Table(seed, scale, specs_json, *, start=0, stop=None)\n--\n\n"
                    "A specs document read once, a seed and an id range.")},
    {Py_tp_new, reinterpret_cast<void*>(table_new)},
    {Py_tp_methods, TABLE_METHODS},
    {Py_tp_getset, TABLE_GETSET},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {0, nullptr},
};

PyType_Spec TABLE_SPEC = {
    "tessary._engine.Table",
    sizeof(Table),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    TABLE_SLOTS,
};

constexpr const char* RANGE_PARAMS[] = {"scale", "start", "stop"};
constexpr binding::Signature RANGE_SIGNATURE{"check_range", RANGE_PARAMS, 3};

CallResult check_range_impl(PyObject* const* bound) {
  std::uint64_t scale = 0;
  IdRange range;
  if (auto error = take(binding::to_u64(bound[0], "scale"), scale)) return std::move(*error);
  if (auto error = take(read_range(scale, bound[1], bound[2]), range)) return std::move(*error);
  return PyLong_FromUnsignedLongLong(range.stop);
}

PyObject* check_range_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  return bound_entry<3>(RANGE_SIGNATURE, args, nargsf, kwnames, check_range_impl);
}

}  // namespace

binding::CallResult new_dataset_table(PyTypeObject* type, const DatasetTableParts& parts) {
  PyObject* module = PyType_Check(type) ? engine_module_of(type) : nullptr;  // a Table subclass
  if (module == nullptr) {
    PyErr_Clear();
    return PendingError(PyExc_TypeError, "a data set's table is made as a Table");
  }
  CallResult made = allocate(type, parts.specs, parts.specs_json);
  if (PyObject** object = std::get_if<PyObject*>(&made)) {
    Table* self = as_table(*object);
    self->seed = parts.seed;
    self->table_seed = parts.table_seed;
    self->scale = parts.scale;
    self->start = 0;
    self->stop = parts.scale;
    Py_SETREF(self->dataset, Py_NewRef(parts.dataset));
    Py_SETREF(self->name, Py_NewRef(parts.name));
  }
  return made;
}

PyObject* make_table_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &TABLE_SPEC, nullptr);
}

PyMethodDef check_range_def = {
    "check_range", as_function(check_range_entry), METH_FASTCALL | METH_KEYWORDS,
    "check_range(scale, start, stop)\n--\n\n"
    "The stop of the range [start, stop) (scale when stop is None); ValueError unless\n"
    "0 <= start <= stop <= scale, as Table() checks it."};

}  // namespace tessary::engine
