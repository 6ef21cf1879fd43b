// SPDX-License-Identifier: Apache-2.0
// The components as Python objects: one Python class per member table, made
// when its first object is met, whose attributes are the members (reached
// without regard to case through the table's own lookup), with the
// collections iterable and indexable, and every call going through the
// frame's Dispatch with the interpreter's lock released. A Failure becomes
// corvane.Failure (number, source, description).
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "frame/Dispatch.h"

namespace corvane::python {

namespace py = pybind11;

// The text recorded as the source of failures that carry none.
inline constexpr const char* kSource = "Corvane";

// Declares corvane.Object, corvane.Collection, corvane.ByRef,
// corvane.Failure and corvane.NoSuchMember in the module. Throws
// py::error_already_set when Python refuses a definition.
void DefineObjects(py::module_& module);

// The Python object for a component object: an instance of the class made
// for its member table. Throws py::error_already_set.
py::object Wrap(std::shared_ptr<Dispatch> object);

// The object's member at `position` read as an attribute: a bound method
// for a method, else the property's value; a property that needs arguments
// (such as Item) gives a callable that reads it with them (so does one
// whose reading fails with 13: calling it raises that failure again).
// Throws Failure.
py::object GetMember(const std::shared_ptr<Dispatch>& object, int position);

// The position of a member named without regard to case; throws Failure 438
// (raised in Python as corvane.NoSuchMember, an AttributeError too).
int MemberPosition(const Dispatch& object, const std::string& name);

}  // namespace corvane::python
