// The extension module nvfiltering._nvfiltering: the library's failures become
// nvfiltering.Error (message as str(e), the library's class path as
// e.class_path); the bindings of every subsystem are added here.
#include "common.h"

#include <exception>
#include <string>

#include <nanobind/stl/string.h>

#include <nvcore/Throwable.h>

namespace {

PyObject* g_error = nullptr;

}  // namespace

NB_MODULE(_nvfiltering, m) {
    namespace nb = nanobind;
    g_error = PyErr_NewExceptionWithDoc(
        "nvfiltering.Error",
        "A failure reported by the library: str(e) is its message, e.class_path the library's class path.",
        PyExc_Exception, nullptr);
    m.attr("Error") = nb::handle(g_error);
    m.attr("__version__") = NVF_VERSION;

    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const com::norvane::Throwable& e) {
            nb::object error = nb::borrow(g_error)(e.getMessage());
            error.attr("class_path") = e.getClassPath();
            PyErr_SetObject(g_error, error.ptr());
        }
    });

    nvfpy::bindRecursive(m);
    nvfpy::bindConvolution(m);
    nvfpy::bindMorphology(m);
    nvfpy::bindFft(m);
}
