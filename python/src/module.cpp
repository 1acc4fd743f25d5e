// The extension module nvfiltering._nvfiltering: the library's failures become
// nvfiltering.Error (message as str(e), the library's class path as
// e.class_path); the bindings of every subsystem are added here.
//
// The module keeps no state of its own: the exception type lives on the module
// and reaches the translator as its payload, so nothing here is shared between
// interpreters or needs a lock on a free-threaded interpreter.
#include "common.h"

#include <exception>
#include <string>

#include <nanobind/stl/string.h>

#include <nvcore/Throwable.h>

NB_MODULE(_nvfiltering, m) {
    namespace nb = nanobind;
    nb::exception<com::norvane::Throwable> error(m, "Error");
    // Users meet it as nvfiltering.Error (the package re-exports it).
    error.attr("__module__") = "nvfiltering";
    error.attr("__doc__") =
        "A failure reported by the library: str(e) is its message, e.class_path the library's class path.";
    m.attr("__version__") = NVF_VERSION;

    // Registered after nb::exception's own translator, so tried before it: the
    // same type, with the class path added.
    nb::register_exception_translator(
        [](const std::exception_ptr& p, void* payload) {
            try {
                std::rethrow_exception(p);
            } catch (const com::norvane::Throwable& e) {
                nb::handle type(static_cast<PyObject*>(payload));
                nb::object value = type(e.getMessage());
                value.attr("class_path") = e.getClassPath();
                PyErr_SetObject(type.ptr(), value.ptr());
            }
        },
        error.ptr());

    nvfpy::bindRecursive(m);
    nvfpy::bindConvolution(m);
    nvfpy::bindMorphology(m);
    nvfpy::bindFft(m);
}
