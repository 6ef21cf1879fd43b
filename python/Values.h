// SPDX-License-Identifier: Apache-2.0
// Values between Python and the components: None, bool, int, float,
// decimal.Decimal, str, bytes and the module's objects one way, Variants the
// other. Text is bytes inside the suite; str crosses as UTF-8, and bytes that
// are not UTF-8 come back as lone surrogates (surrogateescape), so that any
// text survives the round trip.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "frame/Dispatch.h"

namespace corvane::python {

namespace py = pybind11;

// The Variant for a Python value. Throws Failure 13 "Type mismatch" for a
// value of another type and 6 "Overflow" for an int beyond a double's range.
Variant ToVariant(py::handle value);

// An argument passed by reference: the member may write `value`, which
// holds the written value after the call (corvane.ByRef).
struct ByRef {
  py::object value;
};

// A by-reference argument's place among the arguments of a call.
struct ByRefSlot {
  size_t index;
  py::object holder;
};

// The arguments of a call: each value converted, a list or tuple spread into
// its items (the way a parameter array is given from Python); the places of
// ByRef arguments are added to `by_ref`. Throws as ToVariant.
Arguments ToArguments(const py::args& values, std::vector<ByRefSlot>& by_ref);

// Writes the values that the member left in by-reference arguments back
// into their ByRef holders. Never fails but for memory.
void WriteBack(const Arguments& args, const std::vector<ByRefSlot>& by_ref);

// The Python value of a Variant; an object becomes an instance of the
// module's class for it (see Objects.h). Never fails but for memory.
py::object ToPython(const Variant& value);

// The str of text bytes (UTF-8, other bytes as lone surrogates), and the
// bytes of a str encoded the same way; the second throws Failure 13 for a
// value that is not a str.
py::str TextToPython(const std::string& text);
std::string TextFromPython(py::handle text);

}  // namespace corvane::python
