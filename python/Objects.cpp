// SPDX-License-Identifier: Apache-2.0
#include "python/Objects.h"

#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

#include "frame/Collection.h"
#include "python/Values.h"

namespace corvane::python {
namespace {

// Set once when the module is made and kept for the interpreter's life:
// the exception classes and the classes made per member table, keyed by
// the address of the table.
PyObject* failure_class = nullptr;
PyObject* no_such_member_class = nullptr;
PyObject* made_classes = nullptr;

// The exception classes, written in Python for their constructor, fields
// and pickling.
const char kFailureClasses[] = R"py(
class Failure(Exception):
    """A component member's failure: its number, source and description,
    and the system's text for the error behind it ("Permission denied"),
    empty when the system reported none."""

    def __init__(self, number, source, description, system_text=""):
        super().__init__(number, source, description)
        self.number = number
        self.source = source
        self.description = description
        self.system_text = system_text

    def __str__(self):
        return f"{self.description} (number {self.number}, {self.source})"


class NoSuchMember(Failure, AttributeError):
    """Failure 438: the object has no member of that name."""
)py";

// Holds the object a class made per member table is constructed from;
// pages cannot make one.
struct Reference {
  std::shared_ptr<Dispatch> object;
};

// A dispatch call with the interpreter's lock released, so that other
// Python threads run while a component waits on the network or the disk;
// `object` is held by the caller for the whole call.
Variant Invoked(Dispatch& object, int position, Invocation kind,
                Arguments& args, const Variant& value = {}) {
  py::gil_scoped_release released;
  return object.Invoke(position, kind, args, value);
}

py::object Call(const std::shared_ptr<Dispatch>& object, int position,
                Invocation kind, const py::args& values) {
  std::vector<ByRefSlot> by_ref;
  Arguments args = ToArguments(values, by_ref);
  Variant result = Invoked(*object, position, kind, args);
  WriteBack(args, by_ref);
  return ToPython(result);
}

void Put(Dispatch& object, int position, py::handle value) {
  Arguments none;
  Invoked(object, position, Invocation::kPut, none, ToVariant(value));
}

std::shared_ptr<Dispatch> Unwrapped(py::handle self) {
  return self.cast<std::shared_ptr<Dispatch>>();
}

const MemberInfo& MemberAt(const Dispatch& object, int position) {
  return object.Class().members()[static_cast<size_t>(position)];
}

std::string KindText(const MemberInfo& member) {
  if (member.call) return "method";
  if (member.get && member.put) return "property, read and write";
  if (member.get) return "property, read only";
  return "property, write only";
}

std::string ClassDoc(const ClassInfo& info) {
  std::string doc = "Component class " + info.name() +
                    "; members (names are matched without regard to "
                    "case):\n\n";
  for (const auto& member : info.members()) {
    doc += "    " + member.name + ": " + KindText(member) + "\n";
  }
  return doc;
}

// Adds the members of `info` to a class made for it: a method per method
// member, a property per property member.
void AddMembers(py::object made, const ClassInfo& info) {
  py::object property = py::module_::import("builtins").attr("property");
  const auto& members = info.members();
  for (size_t i = 0; i < members.size(); ++i) {
    const MemberInfo& member = members[i];
    int position = static_cast<int>(i);
    std::string doc = member.name + ": " + KindText(member);
    if (member.call) {
      made.attr(member.name.c_str()) = py::cpp_function(
          [position](py::handle self, const py::args& values) {
            return Call(Unwrapped(self), position, Invocation::kCall, values);
          },
          py::name(member.name.c_str()), py::is_method(made),
          py::doc(doc.c_str()));
      continue;
    }
    py::object getter = py::cpp_function([position](py::handle self) {
      return GetMember(Unwrapped(self), position);
    });
    py::object setter = py::none();
    if (member.put) {
      setter = py::cpp_function([position](py::handle self, py::handle value) {
        Put(*Unwrapped(self), position, value);
      });
    }
    made.attr(member.name.c_str()) = property(getter, setter, py::none(), doc);
  }
}

// The class made for the object's member table, made now if it is the
// first of its kind.
py::object ClassFor(const Dispatch& object, py::handle base) {
  const ClassInfo& info = object.Class();
  auto key = py::int_(reinterpret_cast<uintptr_t>(&info));
  auto classes = py::reinterpret_borrow<py::dict>(made_classes);
  if (classes.contains(key)) return classes[key];
  py::dict namespace_;
  namespace_["__slots__"] = py::tuple();
  namespace_["__doc__"] = ClassDoc(info);
  namespace_["__module__"] = "corvane";
  py::object made =
      py::module_::import("builtins")
          .attr("type")(info.name(), py::make_tuple(base), namespace_);
  AddMembers(made, info);
  classes[key] = made;
  return made;
}

void RaiseFailure(const Failure& failure) {
  PyObject* kind =
      failure.number == kNoSuchMember ? no_such_member_class : failure_class;
  py::object error = py::reinterpret_borrow<py::object>(kind)(
      failure.number, TextToPython(failure.source),
      TextToPython(failure.description), TextToPython(failure.system_text));
  PyErr_SetObject(kind, error.ptr());
}

// A position in a collection as Python counts: from 0, negative from the
// end; IndexError outside.
int32_t CollectionPosition(const Collection& collection, py::handle index) {
  long long position = index.cast<long long>();
  long long count = collection.Count();
  if (position < 0) position += count;
  if (position < 0 || position >= count) {
    throw py::index_error("collection index out of range");
  }
  return static_cast<int32_t>(position + 1);
}

py::object CollectionItem(const Collection& collection, py::handle key) {
  if (PyUnicode_Check(key.ptr())) {
    const Variant* item = collection.Find(TextFromPython(key));
    if (item == nullptr) throw py::key_error(py::str(key));
    return ToPython(*item);
  }
  if (!PyLong_Check(key.ptr())) {
    throw py::type_error("collection keys are int positions or str keys");
  }
  return ToPython(collection.Item(CollectionPosition(collection, key)));
}

}  // namespace

int MemberPosition(const Dispatch& object, const std::string& name) {
  int position = object.Class().Find(name);
  if (position < 0) {
    throw Failure(kNoSuchMember, kSource,
                  StandardErrorText(kNoSuchMember) + ": " +
                      object.Class().name() + "." + name);
  }
  return position;
}

py::object GetMember(const std::shared_ptr<Dispatch>& object, int position) {
  if (MemberAt(*object, position).call) {
    return py::cpp_function([object, position](const py::args& values) {
      return Call(object, position, Invocation::kCall, values);
    });
  }
  try {
    return Call(object, position, Invocation::kGet, py::args());
  } catch (const Failure& failure) {
    // A property that takes arguments is read by calling what the
    // attribute gives: read without them it fails with 450 (a required
    // argument missing, as ServerVariables) or 13 (a missing argument that
    // does not convert, as Item).
    if (failure.number != kWrongArguments && failure.number != kTypeMismatch) {
      throw;
    }
    return py::cpp_function([object, position](const py::args& values) {
      return Call(object, position, Invocation::kGet, values);
    });
  }
}

py::object Wrap(std::shared_ptr<Dispatch> object) {
  py::object base = std::dynamic_pointer_cast<Collection>(object)
                        ? py::module_::import("corvane").attr("Collection")
                        : py::module_::import("corvane").attr("Object");
  py::object made = ClassFor(*object, base);
  return made(Reference{std::move(object)});
}

void DefineObjects(py::module_& module) {
  py::dict scope;
  scope["__name__"] = "corvane";
  py::exec(kFailureClasses, scope);
  module.attr("Failure") = scope["Failure"];
  module.attr("NoSuchMember") = scope["NoSuchMember"];
  failure_class = scope["Failure"].ptr();
  no_such_member_class = scope["NoSuchMember"].ptr();
  Py_INCREF(failure_class);
  Py_INCREF(no_such_member_class);
  made_classes = py::dict().release().ptr();

  py::register_exception_translator([](std::exception_ptr caught) {
    try {
      if (caught) std::rethrow_exception(caught);
    } catch (const Failure& failure) {
      Failure filled = failure;
      if (filled.source.empty()) filled.source = kSource;
      RaiseFailure(filled);
    }
  });

  // Registered only so that classes made per member table take one.
  py::class_<Reference> reference(module, "_Reference");

  py::class_<ByRef>(module, "ByRef",
                    "An argument passed by reference: after the call, "
                    "`value` holds what the member wrote into it.")
      .def(py::init<py::object>(), py::arg("value") = py::none())
      .def_readwrite("value", &ByRef::value)
      .def("__repr__", [](const ByRef& ref) {
        return "corvane.ByRef(" + std::string(py::repr(ref.value)) + ")";
      });

  py::class_<Dispatch, std::shared_ptr<Dispatch>>(
      module, "Object",
      "A component object; its members are its attributes, named without "
      "regard to case.")
      .def(
          py::init([](const Reference& reference) { return reference.object; }))
      .def("__getattr__",
           [](py::handle self, const std::string& name) {
             if (name.starts_with("_")) throw py::attribute_error(name);
             auto object = Unwrapped(self);
             return GetMember(object, MemberPosition(*object, name));
           })
      .def("__setattr__",
           [](py::handle self, const std::string& name, py::handle value) {
             auto object = Unwrapped(self);
             Put(*object, MemberPosition(*object, name), value);
           })
      .def("__dir__",
           [](py::handle self) {
             py::list names = py::module_::import("builtins")
                                  .attr("object")
                                  .attr("__dir__")(self);
             for (const auto& member : Unwrapped(self)->Class().members()) {
               names.append(member.name);
             }
             return names;
           })
      .def("__repr__",
           [](py::handle self) {
             return "<corvane." + Unwrapped(self)->Class().name() + " object>";
           })
      .def("__eq__",
           [](py::handle self, py::handle other) {
             return py::isinstance<Dispatch>(other) &&
                    Unwrapped(self).get() == Unwrapped(other).get();
           })
      .def("__hash__",
           [](py::handle self) {
             return std::hash<Dispatch*>()(Unwrapped(self).get());
           })
      .def("__bool__", [](py::handle) { return true; })
      .def_property_readonly(
          "_members",
          [](py::handle self) {
            std::vector<std::pair<std::string, std::string>> members;
            for (const auto& member : Unwrapped(self)->Class().members()) {
              members.emplace_back(member.name, KindText(member));
            }
            return members;
          },
          "The member table: (name, kind) pairs in the class's order.");

  py::class_<Collection, Dispatch, std::shared_ptr<Collection>>(
      module, "Collection",
      "An ordered collection: len(), iteration in order, [position] from 0 "
      "or [key] without regard to case; Item(n) counts from 1.")
      .def(py::init([] { return Collection::New(); }))
      .def(py::init([](const Reference& reference) {
        return std::dynamic_pointer_cast<Collection>(reference.object);
      }))
      .def("__len__", [](const Collection& c) { return c.Count(); })
      .def("__iter__",
           [](const Collection& c) {
             py::list items;
             for (const Variant& item : c.Items()) items.append(ToPython(item));
             return py::iter(items);
           })
      .def("__getitem__", &CollectionItem)
      .def("__repr__", [](const Collection& c) {
        return "<corvane." + c.Class().name() + " of " +
               std::to_string(c.Count()) + " items>";
      });
}

}  // namespace corvane::python
