#include "engine/dataset.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <variant>

#include "binding/arguments.h"
#include "binding/gil.h"
#include "binding/pending_error.h"
#include "datasets/dataset.h"
#include "engine/check_specs_binding.h"
#include "engine/table.h"
#include "sampling/check_specs.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::GilRelease;
using binding::PendingError;
using binding::take;

struct DatasetObject {
  PyObject_HEAD
  std::shared_ptr<const Dataset> dataset;  // constructed in place by the allocating function
  PyObject* document_json;                 // the str it was read from; strong
  PyObject* names;                         // a tuple of the tables' names; strong
  std::uint64_t seed;
};

DatasetObject* as_dataset(PyObject* object) {
  return reinterpret_cast<DatasetObject*>(object);
}

CallResult make_dataset(PyTypeObject* type, PyObject* seed, PyObject* document_json) {
  std::uint64_t seed_value = 0;
  std::string_view text;
  if (auto error = take(binding::to_u64(seed, "seed"), seed_value)) return std::move(*error);
  if (auto error = take(binding::to_utf8(document_json, "document_json"), text)) {
    return std::move(*error);
  }
  std::variant<Dataset, ReadError> read;
  {
    GilRelease gil;  // the text stays valid: the caller holds the str
    read = read_dataset(text, seed_value);
  }
  if (const ReadError* error = std::get_if<ReadError>(&read)) {
    return PendingError(PyExc_ValueError, error->display());
  }
  Dataset& dataset = std::get<Dataset>(read);
  PyObject* names = PyTuple_New(static_cast<Py_ssize_t>(dataset.tables.size()));
  if (names == nullptr) return PendingError::fetch();
  for (std::size_t t = 0; t < dataset.tables.size(); ++t) {
    const std::string& name = dataset.tables[t].table->name;
    PyObject* text_name =
        PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (text_name == nullptr) {
      Py_DECREF(names);
      return PendingError::fetch();
    }
    PyTuple_SET_ITEM(names, static_cast<Py_ssize_t>(t), text_name);
  }
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) {
    Py_DECREF(names);
    return PendingError::fetch();
  }
  DatasetObject* self = as_dataset(object);
  new (&self->dataset) std::shared_ptr<const Dataset>(
      std::make_shared<const Dataset>(std::move(dataset)));
  self->document_json = Py_NewRef(document_json);
  self->names = names;
  self->seed = seed_value;
  return object;
}

PyObject* dataset_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"seed", "document_json", nullptr};
  PyObject *seed, *document_json;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:Dataset", const_cast<char**>(keywords),
                                   &seed, &document_json)) {
    return nullptr;
  }
  return binding::run_entry([&] { return make_dataset(type, seed, document_json); });
}

// The index of the table named `name` (a str), or a KeyError.
std::variant<std::size_t, PendingError> table_index(const DatasetObject* self, PyObject* name) {
  if (!PyUnicode_Check(name)) {
    return PendingError(PyExc_TypeError, "a table is named by a str");
  }
  const Py_ssize_t count = PyTuple_GET_SIZE(self->names);
  for (Py_ssize_t t = 0; t < count; ++t) {
    const int equal = PyUnicode_Compare(PyTuple_GET_ITEM(self->names, t), name);
    if (equal == -1 && PyErr_Occurred()) return PendingError::fetch();
    if (equal == 0) return static_cast<std::size_t>(t);
  }
  PyObject* shown = PyObject_Repr(name);
  const char* text = shown != nullptr ? PyUnicode_AsUTF8(shown) : nullptr;
  if (text == nullptr) {
    Py_XDECREF(shown);
    return PendingError::fetch();
  }
  PendingError error(PyExc_KeyError, std::string("the data set has no table named ") + text);
  Py_DECREF(shown);
  return error;
}

CallResult table_impl(PyObject* object, PyObject* type, PyObject* name) {
  const DatasetObject* self = as_dataset(object);
  if (!PyType_Check(type)) return PendingError(PyExc_TypeError, "_table() takes a Table type");
  std::size_t t = 0;
  if (auto error = take(table_index(self, name), t)) return std::move(*error);
  const DatasetTable& table = self->dataset->tables[t];
  std::string_view text;
  if (auto error = take(binding::to_utf8(self->document_json, "document_json"), text)) {
    return std::move(*error);
  }
  const std::string_view attributes =
      text.substr(table.attributes_begin, table.attributes_end - table.attributes_begin);
  PyObject* specs_json = PyUnicode_FromStringAndSize(
      attributes.data(), static_cast<Py_ssize_t>(attributes.size()));
  if (specs_json == nullptr) return PendingError::fetch();
  const DatasetTableParts parts{table.table->specs, specs_json,
                                self->seed,         table.table->seed,
                                table.table->scale, object,
                                PyTuple_GET_ITEM(self->names, static_cast<Py_ssize_t>(t))};
  CallResult made = new_dataset_table(reinterpret_cast<PyTypeObject*>(type), parts);
  Py_DECREF(specs_json);
  return made;
}

PyObject* dataset_table(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
  return binding::run_entry([&]() -> CallResult {
    if (nargs != 2) return PendingError(PyExc_TypeError, "_table() takes 2 arguments");
    return table_impl(object, args[0], args[1]);
  });
}

CallResult problems_impl(const DatasetObject* self, std::optional<std::size_t> only) {
  std::string_view text;
  if (auto error = take(binding::to_utf8(self->document_json, "document_json"), text)) {
    return std::move(*error);
  }
  std::vector<SpecProblem> problems;
  if (only) {
    check_dataset_table(text, self->dataset->tables[*only], "", problems);
  } else {
    check_dataset(text, *self->dataset, problems);
  }
  return problems_to_list(problems);
}

PyObject* dataset_problems(PyObject* object, PyObject*) {
  return binding::run_entry([&] { return problems_impl(as_dataset(object), std::nullopt); });
}

PyObject* get_seed(PyObject* object, void*) {
  return PyLong_FromUnsignedLongLong(as_dataset(object)->seed);
}

PyObject* get_document_json(PyObject* object, void*) {
  return Py_NewRef(as_dataset(object)->document_json);
}

PyObject* get_tables(PyObject* object, void*) {
  return Py_NewRef(as_dataset(object)->names);
}

void dataset_dealloc(PyObject* object) {
  DatasetObject* self = as_dataset(object);
  PyTypeObject* type = Py_TYPE(object);
  self->dataset.~shared_ptr();
  Py_XDECREF(self->document_json);
  Py_XDECREF(self->names);
  type->tp_free(object);
  Py_DECREF(type);
}

PyGetSetDef DATASET_GETSET[] = {
    {"seed", get_seed, nullptr, "The data set's seed.", nullptr},
    {"document_json", get_document_json, nullptr, "The document the data set was read from.",
     nullptr},
    {"tables", get_tables, nullptr, "The names of the tables, in document order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef DATASET_METHODS[] = {
    {"_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dataset_table)),
     METH_FASTCALL, nullptr},
    {"problems", dataset_problems, METH_NOARGS,
     "problems()\n--\n\nThe check_specs tuples of every table, in document order."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot DATASET_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Dataset(seed, document_json)\n--\n\n"
                                  "A data set document read once with a seed.")},
    {Py_tp_new, reinterpret_cast<void*>(dataset_new)},
    {Py_tp_methods, DATASET_METHODS},
    {Py_tp_getset, DATASET_GETSET},
    {Py_tp_dealloc, reinterpret_cast<void*>(dataset_dealloc)},
    {0, nullptr},
};

PyType_Spec DATASET_SPEC = {
    "tessary._engine.Dataset",
    sizeof(DatasetObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    DATASET_SLOTS,
};

}  // namespace

PyObject* make_dataset_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &DATASET_SPEC, nullptr);
}

CallResult dataset_table_problems(PyObject* dataset, PyObject* name) {
  const DatasetObject* self = as_dataset(dataset);
  std::size_t t = 0;
  if (auto error = take(table_index(self, name), t)) return std::move(*error);
  return problems_impl(self, t);
}

}  // namespace tessary::engine
