// Readers over the streaming reader. Unless threads is 1, a thread of the reader's own calls
// readFastqBatch (or readFastqPairBatch) and gathers each batch into arrays, a few batches ahead
// of the caller, so that the parsing overlaps the caller's Python code; the GIL is released
// whenever the caller waits for a batch.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "fastreads.hpp"

namespace fastreads {

void throwOsError(const std::string &path, int error, const std::string &invalid) {
    if (error == EINVAL)
        throw py::value_error(invalid.empty() ? "invalid argument for " + path : invalid);
    errno = error;
    py::object name = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.ptr());
    throw py::error_already_set();
}

namespace {

using Slot = std::vector<PackedPtr>;  // one batch of each file read in step

// Batches gathered ahead of the caller.
constexpr std::size_t kAhead = 2;
// Entries a thread copies at a time when two share the copying of a batch.
constexpr std::int64_t kChunk = 256;

std::string display(const std::string &path) {
    return path == "-" ? "standard input" : path;
}

}  // namespace

class ReaderCore : public RecordSource {
  public:
    // Reads the files at `paths` in step (one, a pair, or more), or with `interleaved` the
    // pairs that the one file holds in turn; with first >= 0, entries [first, end) of indexed
    // files (openFastqStreamRange).
    ReaderCore(const std::vector<std::string> &paths, std::int64_t batch_bytes,
               std::int32_t threads, bool interleaved = false, std::int64_t first = -1,
               std::int64_t end = -1) {
        if (batch_bytes < 0) throw py::value_error("batch_bytes must be 0 or more");
        if (threads < 0) throw py::value_error("threads must be 0 or more");
        interleaved_ = interleaved && paths.size() == 1;
        sides_ = interleaved_ ? 2 : paths.size();
        for (const std::string &path : paths) {
            if (path.find('\0') != std::string::npos)
                throw py::value_error("embedded null byte in path");
            label_ += (label_.empty() ? "" : ", ") + display(path);
        }
        comments_.assign(sides_, nullptr);
        // The stream's threads count its caller: here the gathering thread.
        threaded_ = threads != 1;
        const std::int32_t stream_threads = threads == 0 ? 0 : threaded_ ? threads - 1 : 1;
        for (const std::string &path : paths) {
            FastqStream *s;
            {
                py::gil_scoped_release release;
                s = openReaderStream(path, batch_bytes, stream_threads, first, end);
            }
            if (s == nullptr) {
                const int error = errno;
                stop();
                throwOsError(path, error);
            }
            streams_.push_back(s);
        }
        // The same stream twice reads interleaved pairs.
        if (interleaved_) streams_.push_back(streams_[0]);
        if (threaded_) worker_ = std::thread([this] { run(); });
    }

    ~ReaderCore() override {
        stop();
        for (PyObject *comment : comments_) Py_XDECREF(comment);
    }

    ReaderCore(const ReaderCore &) = delete;
    ReaderCore &operator=(const ReaderCore &) = delete;

    // Records a step: 1 for one file, 2 for pairs, n for n files.
    std::size_t sides() const { return sides_; }
    bool closed() const { return closed_; }
    std::uint64_t generation() const { return generation_; }
    std::int64_t skipped() const { return skipped_.load(); }
    const std::string &label() const { return label_; }
    const Slot &current() const { return current_; }

    // Ends the reading thread and closes the streams; called with the GIL held.
    void close() {
        if (busy_) throw std::runtime_error("the reader is in use by another thread");
        ++generation_;
        closed_ = true;
        py::gil_scoped_release release;
        stop();
    }

    // Makes the next batch current: false at the end of the text, FormatError on a failure
    // (again at every later call). Called with the GIL held; waits without it.
    bool advance() {
        if (closed_) throw py::value_error("I/O operation on a closed reader");
        if (busy_) throw std::runtime_error("the reader is in use by another thread");
        if (ended_) return false;
        if (!error_.empty()) throwFormatError(error_);
        // The current batch is given up before the GIL is: no view of it reads on from here.
        ++generation_;
        position_ = 0;
        std::int32_t status = 0;
        std::string error;
        busy_ = true;
        {
            py::gil_scoped_release release;
            if (threaded_) {
                std::unique_lock<std::mutex> lock(mutex_);
                for (;;) {
                    ready_cv_.wait(lock, [this] {
                        return !ready_.empty() || finished_ ||
                               (job_active_ && job_.next.load() < job_.chunks);
                    });
                    if (!ready_.empty() || finished_) break;
                    // The reading thread is copying the next batch: help.
                    ++helpers_;
                    lock.unlock();
                    work();
                    lock.lock();
                    --helpers_;
                    done_cv_.notify_one();
                }
                if (!ready_.empty()) {
                    if (!current_.empty()) spare_.push_back(current_);
                    current_ = ready_.front();
                    ready_.pop_front();
                    status = static_cast<std::int32_t>(current_[0]->count);
                } else {
                    status = status_;
                    error = worker_error_;
                }
                lock.unlock();
                space_cv_.notify_one();
            } else {
                if (current_.empty()) current_ = makeSlot();
                status = fill(current_, error);
            }
        }
        busy_ = false;
        if (status > 0) return true;
        current_ = Slot{};
        if (status == 0) {
            ended_ = true;
            return false;
        }
        error_ = label_ + ": " + error;
        throwFormatError(error_);
    }

    PyObject *nextRecord() override {
        try {
            if (current_.empty() || position_ >= current_[0]->count) {
                if (!advance()) return nullptr;
            }
            const std::int64_t i = position_++;
            if (sides_ == 1) return current_[0]->record(i, &comments_[0]);
            PyObject *tuple = PyTuple_New(static_cast<Py_ssize_t>(sides_));
            if (tuple == nullptr) return nullptr;
            for (std::size_t side = 0; side < sides_; ++side) {
                PyObject *record = current_[side]->record(i, &comments_[side]);
                if (record == nullptr) {
                    Py_DECREF(tuple);
                    return nullptr;
                }
                PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(side), record);
            }
            return tuple;
        } catch (py::error_already_set &e) {
            e.restore();
        } catch (const py::builtin_exception &e) {
            e.set_error();
        } catch (const std::exception &e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
        return nullptr;
    }

  private:
    Slot makeSlot() const {
        Slot slot(sides_);
        for (PackedPtr &side : slot) side = std::make_shared<Packed>();
        return slot;
    }

    // Reads and gathers one batch into `slot`: its number of entries, 0 at the end, -1 with
    // `error` on a failure. Runs without the GIL.
    std::int32_t fill(Slot &slot, std::string &error) noexcept {
        try {
            std::vector<SeqEntry *> e(sides_, nullptr);
            const std::int32_t n =
                sides_ == 1   ? readFastqBatch(streams_[0], &e[0])
                : sides_ == 2 ? readFastqPairBatch(streams_[0], streams_[1], &e[0], &e[1])
                              : readFastqBatches(streams_.data(), static_cast<std::int32_t>(sides_),
                                                 e.data());
            if (n < 0) {
                const char *why = fastqStreamError(streams_[0]);
                error = why ? why : "read failed";
                return n;
            }
            // The stream has counted the names' and comments' lengths.
            std::vector<const fast::HeaderLengths *> lengths(sides_);
            for (std::size_t side = 0; side < sides_; ++side)
                lengths[side] = fast::headerLengths(streams_[side]);
            if (n > 0 && !threaded_) {
                for (std::size_t side = 0; side < sides_; ++side)
                    slot[side]->gather(e[side], n, lengths[side]);
            } else if (n > 0) {
                for (std::size_t side = 0; side < sides_; ++side)
                    slot[side]->prepare(e[side], n, lengths[side]);
                share(slot, e, n);
            }
            std::int64_t skipped = 0;
            for (std::size_t side = 0; side < (interleaved_ ? 1 : sides_); ++side)
                skipped += fastqStreamSkipped(streams_[side]);
            skipped_.store(skipped);
            return n;
        } catch (const std::bad_alloc &) {
            error = "out of memory";
        }
        return -1;
    }

    // Copies the entries of a prepared batch, with the caller's help when it is waiting for it.
    void share(Slot &slot, const std::vector<SeqEntry *> &entries, std::int32_t n) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_.entries.assign(entries.begin(), entries.end());
            job_.packed.clear();
            for (const PackedPtr &side : slot) job_.packed.push_back(side.get());
            job_.count = n;
            job_.per_side = (n + kChunk - 1) / kChunk;
            job_.chunks = job_.per_side * static_cast<std::int64_t>(sides_);
            job_.next = 0;
            job_.done = 0;
            job_active_ = true;
        }
        ready_cv_.notify_one();
        work();
        std::unique_lock<std::mutex> lock(mutex_);
        done_cv_.wait(lock, [this] { return helpers_ == 0 && job_.done == job_.chunks; });
        job_active_ = false;
    }

    // Copies chunks of the shared batch until none is left.
    void work() noexcept {
        for (;;) {
            const std::int64_t chunk = job_.next.fetch_add(1);
            if (chunk >= job_.chunks) return;
            const std::int64_t side = chunk / job_.per_side;
            const std::int64_t begin = (chunk - side * job_.per_side) * kChunk;
            job_.packed[side]->fill(job_.entries[side], begin,
                                    std::min<std::int64_t>(begin + kChunk, job_.count));
            job_.done.fetch_add(1);
        }
    }

    // The reading thread: fills batches until the end, a failure or stop().
    void run() {
        for (;;) {
            Slot slot;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                space_cv_.wait(lock, [this] { return stop_ || ready_.size() < kAhead; });
                if (stop_) return;
                if (!spare_.empty()) {
                    slot = spare_.back();
                    spare_.pop_back();
                }
            }
            std::string error;
            std::int32_t n;
            try {
                if (slot.empty()) slot = makeSlot();
                n = fill(slot, error);
            } catch (const std::bad_alloc &) {
                n = -1;
                error = "out of memory";
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (n > 0) {
                    ready_.push_back(slot);
                } else {
                    finished_ = true;
                    status_ = n;
                    worker_error_ = error;
                }
            }
            ready_cv_.notify_one();
            if (n <= 0) return;
        }
    }

    // Ends the thread and closes the streams; without the GIL.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        space_cv_.notify_all();
        if (worker_.joinable()) worker_.join();
        // An interleaved reader holds its one stream twice.
        for (std::size_t i = 0; i < streams_.size(); ++i)
            if (i == 0 || streams_[i] != streams_[0]) closeFastqStream(streams_[i]);
        streams_.clear();
    }

    std::vector<FastqStream *> streams_;
    std::size_t sides_ = 1;
    bool interleaved_ = false, threaded_ = false;
    std::string label_;
    // The caller's side, under the GIL.
    Slot current_{};
    std::int64_t position_ = 0;
    std::vector<PyObject *> comments_;  // the last comment of each side's records
    std::uint64_t generation_ = 0;
    bool closed_ = false, ended_ = false, busy_ = false;
    std::string error_;
    // Shared with the reading thread, under mutex_.
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable ready_cv_, space_cv_, done_cv_;
    // The batch being copied, shared out in chunks of entries (threaded only).
    struct Job {
        std::vector<const SeqEntry *> entries;
        std::vector<Packed *> packed;
        std::int64_t count = 0, per_side = 0, chunks = 0;
        std::atomic<std::int64_t> next{0}, done{0};
    } job_;
    bool job_active_ = false;
    int helpers_ = 0;
    std::deque<Slot> ready_;
    std::vector<Slot> spare_;
    bool stop_ = false, finished_ = false;
    std::int32_t status_ = 0;
    std::string worker_error_;
    std::atomic<std::int64_t> skipped_{0};
};

void Batch::check() const {
    if (reader && (reader->closed() || reader->generation() != generation))
        throw py::value_error(
            "batch is no longer valid: its reader has moved on (keep one with copy())");
}

namespace {

// The paths of a reader: `first`, and `second` unless it is None.
std::vector<std::string> pathsOf(const std::string &first, const py::object &second) {
    if (second.is_none()) return {first};
    return {first, second.cast<std::string>()};
}

struct Reader {
    std::shared_ptr<ReaderCore> core;
    Reader(const std::string &first, const py::object &second, std::int64_t batch_bytes,
           std::int32_t threads, std::int64_t start = -1, std::int64_t stop = -1)
        : core(std::make_shared<ReaderCore>(pathsOf(first, second), batch_bytes, threads, false,
                                            start, stop)) {}
    explicit Reader(std::shared_ptr<ReaderCore> made) : core(std::move(made)) {}
    // Batches may keep the core alive; the streams end with the reader.
    virtual ~Reader() {
        try {
            if (!core->closed()) core->close();
        } catch (const std::exception &) {
        }
    }
};
struct PairReader : Reader {
    // Without a second path, the pairs of one file of interleaved mates.
    PairReader(const std::string &first, const py::object &second, std::int64_t batch_bytes,
               std::int32_t threads, std::int64_t start = -1, std::int64_t stop = -1)
        : Reader(std::make_shared<ReaderCore>(pathsOf(first, second), batch_bytes, threads,
                                              second.is_none(), start, stop)) {}
};
struct TupleReader : Reader {
    TupleReader(const std::vector<std::string> &paths, std::int64_t batch_bytes,
                std::int32_t threads)
        : Reader(std::make_shared<ReaderCore>(paths, batch_bytes, threads)) {}
};

// reader.batches(): Batch objects, or tuples of two for pairs.
struct BatchIterator {
    std::shared_ptr<ReaderCore> core;
    py::object next() {
        if (!core->advance()) throw py::stop_iteration();
        const std::uint64_t generation = core->generation();
        if (core->sides() == 1) return py::cast(Batch{core, generation, core->current()[0]});
        py::tuple batches(core->sides());
        for (std::size_t side = 0; side < core->sides(); ++side)
            batches[side] = py::cast(Batch{core, generation, core->current()[side]});
        return std::move(batches);
    }
};

// Iterating one batch.
struct BatchRecords : RecordSource {
    const Batch *batch;
    std::int64_t position = 0;
    explicit BatchRecords(const Batch *b) : batch(b) {}
    PyObject *nextRecord() override {
        try {
            batch->check();
        } catch (const py::builtin_exception &e) {
            e.set_error();
            return nullptr;
        }
        if (position >= batch->packed->count) return nullptr;
        return batch->packed->record(position++);
    }
};

// A read-only one-dimensional array over `buffer`, which it keeps alive.
template <typename T>
py::array view(const BufferPtr &buffer, std::int64_t count) {
    auto *keep = new BufferPtr(buffer);
    py::capsule base(keep, [](void *p) { delete static_cast<BufferPtr *>(p); });
    py::array array(py::dtype::of<T>(), {static_cast<py::ssize_t>(count)},
                    {static_cast<py::ssize_t>(sizeof(T))}, buffer->data, base);
    py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return array;
}

}  // namespace

void bindReader(py::module_ &m) {
    py::class_<Batch>(m, "Batch", "Entries of one batch; see fastreads.pyi.")
        .def("__len__",
             [](const Batch &b) {
                 b.check();
                 return b.packed->count;
             })
        .def_property_readonly("sequences",
                               [](const Batch &b) {
                                   b.check();
                                   return view<std::uint8_t>(b.packed->sequences,
                                                             b.packed->starts()[b.packed->count]);
                               })
        .def_property_readonly("qualities",
                               [](const Batch &b) {
                                   b.check();
                                   const Packed &p = *b.packed;
                                   return view<std::int8_t>(p.qualities,
                                                            p.any_fastq ? p.starts()[p.count] : 0);
                               })
        .def_property_readonly("offsets",
                               [](const Batch &b) {
                                   b.check();
                                   return view<std::int64_t>(b.packed->offsets,
                                                             b.packed->count + 1);
                               })
        .def_property_readonly("names",
                               [](const Batch &b) {
                                   b.check();
                                   const Packed &p = *b.packed;
                                   py::list names(static_cast<std::size_t>(p.count));
                                   for (std::int64_t i = 0; i < p.count; ++i) {
                                       const EntryInfo &d = p.info[static_cast<std::size_t>(i)];
                                       PyObject *s = latin1(p.text->data + d.name,
                                                            static_cast<std::size_t>(d.name_length),
                                                            d.flags & kNameAscii);
                                       if (s == nullptr) throw py::error_already_set();
                                       PyList_SET_ITEM(names.ptr(), i, s);
                                   }
                                   return names;
                               })
        .def("__getitem__",
             [](const Batch &b, std::int64_t i) {
                 b.check();
                 if (i < 0) i += b.packed->count;
                 if (i < 0 || i >= b.packed->count)
                     throw py::index_error("batch index out of range");
                 PyObject *record = b.packed->record(i);
                 if (record == nullptr) throw py::error_already_set();
                 return py::reinterpret_steal<py::object>(record);
             })
        .def("__iter__",
             [](py::object self) {
                 const Batch &b = self.cast<const Batch &>();
                 b.check();
                 return makeRecordIterator(self, new BatchRecords(&b), true);
             })
        .def("copy",
             [](const Batch &b) {
                 b.check();
                 return Batch{nullptr, 0, b.packed->copy()};
             })
        .def("__repr__", [](const Batch &b) {
            const bool valid =
                !b.reader || (!b.reader->closed() && b.reader->generation() == b.generation);
            return valid ? "<fastreads.Batch of " + std::to_string(b.packed->count) + " entries>"
                         : std::string("<fastreads.Batch, no longer valid>");
        });

    py::class_<BatchIterator>(m, "_BatchIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &BatchIterator::next);

    py::class_<Reader>(m, "Reader", "Reads one file; made by fastreads.open().")
        .def(py::init<const std::string &, const py::object &, std::int64_t, std::int32_t,
                      std::int64_t, std::int64_t>())
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](Reader &r, py::args) {
                 r.core->close();
                 return false;
             })
        .def("close", [](Reader &r) { r.core->close(); })
        .def("__iter__",
             [](py::object self) {
                 Reader &r = self.cast<Reader &>();
                 if (r.core->closed()) throw py::value_error("I/O operation on a closed reader");
                 return makeRecordIterator(self, r.core.get(), false);
             })
        .def("batches", [](Reader &r) { return BatchIterator{r.core}; })
        .def_property_readonly("closed", [](const Reader &r) { return r.core->closed(); })
        .def_property_readonly("skipped", [](const Reader &r) { return r.core->skipped(); })
        .def("__repr__", [](const Reader &r) {
            return std::string("<fastreads.") +
                   (r.core->sides() == 1   ? "Reader "
                    : r.core->sides() == 2 ? "PairReader "
                                           : "TupleReader ") +
                   r.core->label() + (r.core->closed() ? " (closed)>" : ">");
        });
    py::class_<PairReader, Reader>(m, "PairReader",
                                   "Reads two files in step, or one of interleaved pairs.")
        .def(py::init<const std::string &, const py::object &, std::int64_t, std::int32_t,
                      std::int64_t, std::int64_t>());
    py::class_<TupleReader, Reader>(m, "TupleReader", "Reads three or more files in step.")
        .def(py::init<const std::vector<std::string> &, std::int64_t, std::int32_t>());
}

}  // namespace fastreads
