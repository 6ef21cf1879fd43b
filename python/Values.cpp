// SPDX-License-Identifier: Apache-2.0
#include "python/Values.h"

#include <climits>

#include "python/Objects.h"

namespace corvane::python {
namespace {

py::object Decimal() { return py::module_::import("decimal").attr("Decimal"); }

Variant NumberFromInt(py::handle value) {
  int overflow = 0;
  long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow == 0 && number >= INT32_MIN && number <= INT32_MAX) {
    return static_cast<int32_t>(number);
  }
  if (number == -1 && PyErr_Occurred()) throw py::error_already_set();
  // Wider numbers travel as doubles, as the script host's do.
  double wide = PyLong_AsDouble(value.ptr());
  if (wide == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    throw StandardFailure(kOverflow);
  }
  return wide;
}

// Currency is a count of ten-thousandths; a Decimal is rounded to that,
// half to even.
Variant CurrencyFromDecimal(py::handle value) {
  py::object scaled = value.attr("scaleb")(4).attr("to_integral_value")(
      py::module_::import("decimal").attr("ROUND_HALF_EVEN"));
  // Infinity and NaN have no integer: PyNumber_Long raises for them.
  auto whole = py::reinterpret_steal<py::object>(PyNumber_Long(scaled.ptr()));
  if (!whole) {
    PyErr_Clear();
    throw StandardFailure(kOverflow);
  }
  int overflow = 0;
  long long count = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
  if (overflow != 0) throw StandardFailure(kOverflow);
  if (count == -1 && PyErr_Occurred()) throw py::error_already_set();
  return Currency{count};
}

py::object ObjectToPython(const Variant::Object& object) {
  if (!object) return py::none();
  return Wrap(object);
}

}  // namespace

py::str TextToPython(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(
      text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

std::string TextFromPython(py::handle text) {
  if (!PyUnicode_Check(text.ptr())) throw StandardFailure(kTypeMismatch);
  PyObject* encoded =
      PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
  if (encoded == nullptr) throw py::error_already_set();
  auto bytes = py::reinterpret_steal<py::bytes>(encoded);
  return std::string(PyBytes_AS_STRING(bytes.ptr()),
                     static_cast<size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

Variant ToVariant(py::handle value) {
  if (value.is_none()) return Variant();
  if (PyBool_Check(value.ptr())) return value.ptr() == Py_True;
  if (PyLong_Check(value.ptr())) return NumberFromInt(value);
  if (PyFloat_Check(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());
  if (PyUnicode_Check(value.ptr())) return TextFromPython(value);
  if (PyBytes_Check(value.ptr()) || PyByteArray_Check(value.ptr()) ||
      PyMemoryView_Check(value.ptr())) {
    py::bytes bytes =
        py::reinterpret_steal<py::bytes>(PyBytes_FromObject(value.ptr()));
    if (!bytes) throw py::error_already_set();
    return Bytes{std::string(bytes)};
  }
  if (py::isinstance<Dispatch>(value)) {
    return Variant::Object(value.cast<std::shared_ptr<Dispatch>>());
  }
  if (py::isinstance(value, Decimal())) return CurrencyFromDecimal(value);
  throw Failure(kTypeMismatch, "Corvane",
                "Type mismatch: a " +
                    std::string(py::str(value.get_type().attr("__name__"))) +
                    " has no component value");
}

Arguments ToArguments(const py::args& values, std::vector<ByRefSlot>& by_ref) {
  Arguments args;
  for (py::handle value : values) {
    if (py::isinstance<ByRef>(value)) {
      by_ref.push_back(
          {args.size(), py::reinterpret_borrow<py::object>(value)});
      args.push_back(ToVariant(value.cast<ByRef&>().value));
    } else if (PyList_Check(value.ptr()) || PyTuple_Check(value.ptr())) {
      for (py::handle item : value) args.push_back(ToVariant(item));
    } else {
      args.push_back(ToVariant(value));
    }
  }
  return args;
}

void WriteBack(const Arguments& args, const std::vector<ByRefSlot>& by_ref) {
  for (const auto& slot : by_ref) {
    slot.holder.cast<ByRef&>().value = ToPython(args[slot.index]);
  }
}

py::object ToPython(const Variant& value) {
  struct Visitor {
    py::object operator()(const Empty&) { return py::none(); }
    py::object operator()(const Missing&) { return py::none(); }
    py::object operator()(bool v) { return py::bool_(v); }
    py::object operator()(int16_t v) { return py::int_(v); }
    py::object operator()(int32_t v) { return py::int_(v); }
    py::object operator()(Currency v) {
      return Decimal()(py::int_(v.value)).attr("scaleb")(-4);
    }
    py::object operator()(double v) { return py::float_(v); }
    py::object operator()(const std::string& v) { return TextToPython(v); }
    py::object operator()(const Bytes& v) { return py::bytes(v.data); }
    py::object operator()(const Variant::Object& v) {
      return ObjectToPython(v);
    }
  };
  return std::visit(Visitor{}, value.value());
}

}  // namespace corvane::python
