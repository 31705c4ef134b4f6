// Writers over the library's writer. Records are copied into a buffer of entries and written a
// buffer at a time, without the GIL; a batch read from a file is written straight from its
// arrays.
#include <sys/stat.h>

#include <cerrno>

#include <pybind11/stl.h>

#include "fastreads.hpp"

namespace fastreads {

namespace {

// Buffered entries are written once their text reaches this size.
constexpr std::size_t kFlushBytes = 256 << 10;

// A buffered entry: offsets into the buffer's bytes (-1: none).
struct Pending {
    std::int64_t name, comment, bases, quals;
    std::int32_t length;
    std::int32_t is_fasta;
};

// The latin-1 bytes of a str, or ValueError when it holds a character past U+00FF.
std::pair<const char *, std::size_t> latin1Bytes(PyObject *text, const char *what) {
    if (PyUnicode_KIND(text) != PyUnicode_1BYTE_KIND)
        throw py::value_error(std::string("the record's ") + what +
                              " holds a character that is not latin-1");
    return {reinterpret_cast<const char *>(PyUnicode_1BYTE_DATA(text)),
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))};
}

class WriterCore {
  public:
    // One writer for each path; with `interleaved`, one path whose file takes the two records
    // of each pair in turn.
    WriterCore(const std::vector<std::string> &paths, std::int32_t format, std::int32_t level,
               std::int32_t threads, bool sync, std::int32_t fasta_width, bool interleaved = false,
               bool index = false) {
        if (threads < 0) throw py::value_error("threads must be 0 or more");
        if (fasta_width < 0) throw py::value_error("fasta_width must be 0 or more");
        FastqWriterOptions options{};
        options.size = sizeof options;
        options.format = format;
        options.level = level;
        options.threads = threads;
        options.flags = (sync ? 0 : FAST_WRITE_NO_SYNC) | (index ? FAST_WRITE_INDEX : 0);
        options.fasta_width = fasta_width;
        for (const std::string &path : paths) {
            if (path.find('\0') != std::string::npos)
                throw py::value_error("embedded null byte in path");
            if (!label_.empty()) label_ += ", ";
            label_ += path == "-" ? "standard output" : path;
        }
        for (std::size_t k = 0; k < paths.size(); ++k) {
            FastqWriter *w;
            {
                py::gil_scoped_release release;
                w = openFastqWriterWith(paths[k].c_str(), &options);
            }
            if (w == nullptr) {
                const int error = errno;
                abort();
                // Only a file put in place has an index: not standard output, a pipe or a device.
                struct stat st;
                const bool placed =
                    paths[k] != "-" && (::stat(paths[k].c_str(), &st) != 0 || S_ISREG(st.st_mode));
                throwOsError(paths[k], error,
                             index && !placed
                                 ? "cannot write an index of " + paths[k] +
                                       ": only a file put in place has one"
                                 : "cannot write " + paths[k] + " in that format at level " +
                                       std::to_string(level));
            }
            writers_.push_back(w);
        }
        interleaved_ = interleaved && writers_.size() == 1;
        pending_.resize(interleaved_ ? 2 : writers_.size());
        bytes_.reserve(kFlushBytes + (64 << 10));
    }

    ~WriterCore() { abort(); }
    WriterCore(const WriterCore &) = delete;
    WriterCore &operator=(const WriterCore &) = delete;

    bool closed() const { return writers_.empty(); }

    // Buffers one record for writer `side`.
    void add(std::size_t side, py::handle object) {
        if (Py_TYPE(object.ptr()) != record_type)
            throw py::type_error("write() takes fastreads.Record objects");
        const auto *r = reinterpret_cast<const RecordObject *>(object.ptr());
        Pending p{};
        p.name = put(latin1Bytes(r->name, "name"), true);
        p.comment = r->comment == Py_None ? -1 : put(latin1Bytes(r->comment, "comment"), true);
        const auto bases = latin1Bytes(r->sequence, "sequence");
        p.bases = put(bases, false);
        p.length = static_cast<std::int32_t>(bases.second);
        p.is_fasta = r->qualities == Py_None;
        p.quals = -1;
        if (!p.is_fasta) {
            const auto letters = latin1Bytes(r->qualities, "qualities");
            if (letters.second != bases.second)
                throwFormatError(label_ + ": a record has " + std::to_string(letters.second) +
                                 " qualities for " + std::to_string(bases.second) + " bases");
            p.quals = static_cast<std::int64_t>(bytes_.size());
            bytes_.resize(bytes_.size() + letters.second);
            char *to = bytes_.data() + p.quals;
            for (std::size_t k = 0; k < letters.second; ++k)
                to[k] = static_cast<char>(static_cast<unsigned char>(letters.first[k]) - 33);
        }
        pending_[side].push_back(p);
    }

    // Buffers one record, or a pair, and writes the buffer once it is full.
    void write(PyObject *const *records, std::size_t count) {
        usable();
        if (count != pending_.size()) throw py::type_error("write() takes " + arity("record"));
        const std::size_t before = bytes_.size(), entries = pending_[0].size();
        try {
            for (std::size_t side = 0; side < count; ++side) add(side, records[side]);
        } catch (...) {
            // Nothing of a record, or pair, that could not be taken stays behind.
            for (auto &list : pending_) list.resize(entries);
            bytes_.resize(before);
            throw;
        }
        if (bytes_.size() >= kFlushBytes) flush();
    }

    // Writes whole batches straight from their arrays, after what is buffered.
    void writeBatch(const py::args &batches) {
        usable();
        if (batches.size() != pending_.size())
            throw py::type_error("write_batch() takes " + arity("batch"));
        std::vector<PackedPtr> packed;
        for (py::handle b : batches) {
            const Batch &batch = b.cast<const Batch &>();
            batch.check();
            packed.push_back(batch.packed);
        }
        for (const PackedPtr &other : packed)
            if (other->count != packed[0]->count)
                throw py::value_error(packed.size() == 2
                                          ? "the two batches of a pair differ in length"
                                          : "the batches differ in length");
        flush();
        // The entries point into buffers that these references keep alive.
        std::vector<BufferPtr> keep;
        std::vector<std::vector<SeqEntry>> entries(packed.size());
        for (std::size_t side = 0; side < packed.size(); ++side) {
            const Packed &p = *packed[side];
            keep.insert(keep.end(), {p.sequences, p.qualities, p.text, p.offsets});
            entries[side].reserve(static_cast<std::size_t>(p.count));
            for (std::int64_t i = 0; i < p.count; ++i) entries[side].push_back(p.entry(i));
        }
        put(entries);
    }

    // Writes what is buffered.
    void flush() {
        if (pending_.empty() || pending_[0].empty()) return;
        std::vector<std::vector<SeqEntry>> entries(pending_.size());
        for (std::size_t side = 0; side < pending_.size(); ++side) {
            entries[side].reserve(pending_[side].size());
            for (const Pending &p : pending_[side]) {
                SeqEntry e{};
                e.name = bytes_.data() + p.name;
                e.comment = p.comment < 0 ? nullptr : bytes_.data() + p.comment;
                e.bases = bytes_.data() + p.bases;
                e.quals = p.quals < 0 ? nullptr
                                      : reinterpret_cast<std::int8_t *>(bytes_.data() + p.quals);
                e.length = p.length;
                e.is_fasta = p.is_fasta;
                entries[side].push_back(e);
            }
            pending_[side].clear();
        }
        try {
            put(entries);
        } catch (...) {
            bytes_.clear();
            throw;
        }
        bytes_.clear();
    }

    // Writes the rest, finishes the files and puts them in place.
    void finish() {
        if (closed()) return;
        try {
            flush();
        } catch (...) {
            abort();
            throw;
        }
        // The files of a pair are finished together: both are written and synced before
        // either is put in place.
        std::string error;
        {
            py::gil_scoped_release release;
            if (finishFastqWriters(writers_.data(), static_cast<std::int32_t>(writers_.size())) !=
                0) {
                for (FastqWriter *w : writers_) {
                    const char *why = fastqWriterError(w);
                    if (why && error.empty()) error = why;
                }
                if (error.empty()) error = "finishing failed";
            }
        }
        if (!error.empty()) {
            abort();
            raise(error);
        }
        abort();  // finished: closing only releases
    }

    // Closes without finishing: nothing is put in place.
    void abort() noexcept {
        for (FastqWriter *w : writers_) closeFastqWriter(w);
        writers_.clear();
        for (auto &list : pending_) list.clear();
        bytes_.clear();
    }

  private:
    void usable() const {
        if (closed()) throw py::value_error("I/O operation on a closed writer");
    }

    // Appends text (with a zero byte when `terminate`) and returns where it starts.
    std::int64_t put(std::pair<const char *, std::size_t> text, bool terminate) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + text.second + (terminate ? 1 : 0));
        std::memcpy(bytes_.data() + at, text.first, text.second);
        if (terminate) bytes_[at + text.second] = '\0';
        return static_cast<std::int64_t>(at);
    }

    void put(std::vector<std::vector<SeqEntry>> &entries) {
        const auto count = static_cast<std::int32_t>(entries[0].size());
        if (count == 0) return;
        std::int32_t status;
        std::string error;
        {
            py::gil_scoped_release release;
            std::vector<const SeqEntry *> batches;
            for (const auto &side : entries) batches.push_back(side.data());
            status =
                interleaved_
                    ? writeFastqPairBatch(writers_[0], writers_[0], batches[0], batches[1], count)
                : writers_.size() == 1
                    ? writeFastqBatch(writers_[0], batches[0], count)
                    : writeFastqBatches(writers_.data(), static_cast<std::int32_t>(writers_.size()),
                                        batches.data(), count);
            if (status != 0) {
                const char *why = fastqWriterError(writers_[0]);
                error = why ? why : "write failed";
            }
        }
        if (status != 0) raise(error);
    }

    // A refused entry is a FormatError; anything else is the system's failure.
    [[noreturn]] void raise(const std::string &error) const {
        if (error.find("entry ") != std::string::npos ||
            error.find("entries ") != std::string::npos)
            throwFormatError(label_ + ": " + error);
        PyErr_SetString(PyExc_OSError, (label_ + ": " + error).c_str());
        throw py::error_already_set();
    }

    // "one record", "two records, a pair" or "3 records, one a file" for what write() takes.
    std::string arity(const std::string &what) const {
        const std::size_t n = pending_.size();
        if (n == 1) return "one " + what;
        const std::string many = what == "batch" ? "batches" : what + "s";
        if (n == 2) return "two " + many + ", a pair";
        return std::to_string(n) + " " + many + ", one a file";
    }

    std::vector<FastqWriter *> writers_;
    bool interleaved_ = false;
    std::vector<std::vector<Pending>> pending_;
    std::vector<char> bytes_;
    std::string label_;
};

struct Writer {
    std::unique_ptr<WriterCore> core;
    Writer(const std::string &path, std::int32_t format, std::int32_t level, std::int32_t threads,
           bool sync, std::int32_t fasta_width, bool index)
        : core(new WriterCore({path}, format, level, threads, sync, fasta_width, false, index)) {}
    Writer(const std::vector<std::string> &paths, std::int32_t format, std::int32_t level,
           std::int32_t threads, bool sync, std::int32_t fasta_width, bool interleaved, bool index)
        : core(new WriterCore(paths, format, level, threads, sync, fasta_width, interleaved,
                              index)) {}
};
struct PairWriter : Writer {
    PairWriter(const std::string &first, const py::object &second, std::int32_t format,
               std::int32_t level, std::int32_t threads, bool sync, std::int32_t fasta_width,
               bool index)
        : Writer(second.is_none() ? std::vector<std::string>{first}
                                  : std::vector<std::string>{first, second.cast<std::string>()},
                 format, level, threads, sync, fasta_width, second.is_none(), index) {}
};
struct TupleWriter : Writer {
    using Writer::Writer;
};

// write(), called once a record: a method of the C API, without pybind11's dispatching.
template <typename T>
PyObject *writeRecords(PyObject *self, PyObject *const *args, Py_ssize_t count) {
    try {
        py::handle(self).cast<T &>().core->write(args, static_cast<std::size_t>(count));
        Py_RETURN_NONE;
    } catch (py::error_already_set &e) {
        e.restore();
    } catch (const py::builtin_exception &e) {
        e.set_error();
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

template <typename T>
PyMethodDef write_method = {
    "write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(writeRecords<T>)),
    METH_FASTCALL,
    "write(record) or, for pairs, write(first, second), and for n files write(*records): "
    "buffers the record(s); the buffer is written a few hundred KB at a time."};

template <typename T>
void bindCommon(py::class_<T> &c) {
    py::object write = py::reinterpret_steal<py::object>(
        PyDescr_NewMethod(reinterpret_cast<PyTypeObject *>(c.ptr()), &write_method<T>));
    if (!write) throw py::error_already_set();
    c.attr("write") = write;
    c.def("write_batch", [](T &w, const py::args &batches) { w.core->writeBatch(batches); })
        .def("close", [](T &w) { w.core->finish(); })
        .def_property_readonly("closed", [](const T &w) { return w.core->closed(); })
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](T &w, py::object type, py::object, py::object) {
            if (type.is_none())
                w.core->finish();
            else
                w.core->abort();
            return false;
        });
}

}  // namespace

void bindWriter(py::module_ &m) {
    py::class_<Writer> writer(m, "Writer", "Writes one file; made by fastreads.open(mode='w').");
    writer.def(py::init<const std::string &, std::int32_t, std::int32_t, std::int32_t, bool,
                        std::int32_t, bool>());
    bindCommon(writer);
    py::class_<PairWriter> pair(m, "PairWriter",
                                "Writes two files in step, or one of interleaved pairs.");
    pair.def(py::init<const std::string &, const py::object &, std::int32_t, std::int32_t,
                      std::int32_t, bool, std::int32_t, bool>());
    bindCommon(pair);
    py::class_<TupleWriter> tuple(m, "TupleWriter", "Writes three or more files in step.");
    tuple.def(
        py::init([](const std::vector<std::string> &paths, std::int32_t format, std::int32_t level,
                    std::int32_t threads, bool sync, std::int32_t fasta_width, bool index) {
            return TupleWriter(paths, format, level, threads, sync, fasta_width, false, index);
        }));
    bindCommon(tuple);
}

}  // namespace fastreads
