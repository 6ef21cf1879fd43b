// SPDX-License-Identifier: Apache-2.0
// The Python module `corvane`: the suite's components created by ProgID
// from Python pages, and the WSGI page host they read requests from.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "frame/Registry.h"
#include "python/Objects.h"
#include "python/WsgiHost.h"

namespace py = pybind11;
using corvane::python::WsgiContext;

PYBIND11_MODULE(corvane, module) {
  module.doc() =
      "Corvane's server-side components from Python: create(progid) makes "
      "an object whose members are attributes named without regard to case; "
      "WsgiPage(environ) is the page of a WSGI request for them.";
  module.attr("__version__") = CORVANE_VERSION;
  corvane::python::DefineObjects(module);
  corvane::python::DefineWsgiPage(module);

  module.def(
      "create",
      [](const std::string& progid, const std::shared_ptr<WsgiContext>& page) {
        return corvane::python::Wrap(corvane::python::Created(progid, page));
      },
      py::arg("progid"), py::arg("page") = nullptr,
      "A new object of the class registered under `progid` (matched without "
      "regard to case), bound to `page` (a WsgiPage) when one is given. "
      "Raises corvane.Failure: 429 for a ProgID that is not registered, 53 "
      "or 48 for a library that is missing or cannot be loaded.");
  module.def(
      "classes",
      [] {
        std::vector<std::string> progids;
        for (const auto& entry :
             corvane::ReadRegistry(corvane::RegistryPath())) {
          progids.push_back(entry.progid);
        }
        return progids;
      },
      "The ProgIDs of the registry, in its order. Raises corvane.Failure "
      "321 for a malformed registry.");
  module.def(
      "registry", [] { return corvane::RegistryPath(); },
      "The registry file in use ($CORVANE_REGISTRY, else the one beside the "
      "shared runtime).");
}
