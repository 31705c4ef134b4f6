// The module fastreads._fastreads; the package's __init__.py gives it its Python face.
#include "fastreads.hpp"

namespace fastreads {

PyObject *format_error = nullptr;

void throwFormatError(const std::string &message) {
    PyErr_SetString(format_error, message.c_str());
    throw py::error_already_set();
}

}  // namespace fastreads

PYBIND11_MODULE(_fastreads, m) {
    using namespace fastreads;
    m.doc() = "The compiled module of fastreads; use the package fastreads.";
    format_error = PyErr_NewExceptionWithDoc(
        "fastreads.FormatError",
        "Damaged or truncated data, names that do not pair, or an entry the writer refuses; "
        "the message is the library's.",
        PyExc_ValueError, nullptr);
    if (format_error == nullptr) throw py::error_already_set();
    m.add_object("FormatError", py::handle(format_error));
    m.attr("library_version") = FAST_VERSION_STRING;
    // The compressed formats this build reads besides gzip.
    py::list formats;
    formats.append("gzip");
    if (FAST_HAVE_ZSTD) formats.append("zstd");
    if (FAST_HAVE_XZ) formats.append("xz");
    if (FAST_HAVE_BZIP2) formats.append("bzip2");
    m.attr("compressed_formats") = py::tuple(formats);
    initRecordTypes(m);
    bindReader(m);
    bindIndex(m);
    bindWriter(m);
}
