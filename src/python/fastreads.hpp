// The Python module fastreads._fastreads: records, batches gathered into arrays, readers and
// writers over the library's streaming reader and writer.
#ifndef FASTREADS_HPP
#define FASTREADS_HPP

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fast.h"
#include "fastq/stream.hpp"

namespace fastreads {

namespace py = pybind11;

// fastreads.FormatError, a ValueError: damaged or truncated data, unpaired names, refused entries.
extern PyObject *format_error;
// Sets FormatError with `message` and throws, for pybind11 to pass on.
[[noreturn]] void throwFormatError(const std::string &message);
// Raises the OSError that `error` names (FileNotFoundError, IsADirectoryError, ...) for `path`
// that could not be opened, or ValueError (with `invalid`, when given) for EINVAL.
[[noreturn]] void throwOsError(const std::string &path, int error,
                               const std::string &invalid = std::string());

// ---------------------------------------------------------------------------------------------
// Records

struct RecordObject {
    PyObject_HEAD PyObject *name;  // str
    PyObject *comment;             // str or None
    PyObject *sequence;            // str
    PyObject *qualities;           // str of Phred+33 letters, or None for FASTA
};

extern PyTypeObject *record_type;
// Creates fastreads.Record and fastreads._RecordIterator and adds Record to the module.
void initRecordTypes(py::module_ &module);

// A str of `length` bytes read as latin-1; `ascii` must say exactly whether every byte is < 128.
inline PyObject *latin1(const char *bytes, std::size_t length, bool ascii) {
    PyObject *text = PyUnicode_New(static_cast<Py_ssize_t>(length), ascii ? 127 : 255);
    if (text != nullptr && length > 0) std::memcpy(PyUnicode_1BYTE_DATA(text), bytes, length);
    return text;
}

// What a record iterator walks: a reader's batches, or one batch.
class RecordSource {
  public:
    virtual ~RecordSource() = default;
    // The next record (or tuple of two for pairs); nullptr at the end without an exception set,
    // or nullptr with one set. Called with the GIL held.
    virtual PyObject *nextRecord() = 0;
};

// A new iterator over `source`, which `owner` keeps alive (the iterator holds a reference to
// owner); when `owned`, the iterator deletes the source at its end.
py::object makeRecordIterator(py::handle owner, RecordSource *source, bool owned);

// ---------------------------------------------------------------------------------------------
// Batches

// One malloc block shared by a batch and the numpy arrays that view it. A buffer never grows in
// place: a larger one replaces it, so an array never reads freed memory.
struct Buffer {
    explicit Buffer(std::size_t bytes);
    ~Buffer() { std::free(data); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    char *data;
    std::size_t capacity;
};
using BufferPtr = std::shared_ptr<Buffer>;

enum EntryFlags : std::uint8_t {
    kFasta = 1,
    kHasComment = 2,
    kNameAscii = 4,
    kCommentAscii = 8,
    kSequenceAscii = 16,
    kQualitiesAscii = 32,  // every value + 33 is below 128
};

struct EntryInfo {
    std::int64_t name;  // offsets into Packed::text; each is followed by a zero byte
    std::int64_t comment;
    std::int32_t name_length;
    std::int32_t comment_length;
    std::uint8_t flags;
};

// One batch of entries gathered out of the stream's text: every entry's bases end to end, their
// quality values the same way, starts, and names and comments. Filled by a reading thread
// without the GIL.
struct Packed {
    std::int64_t count = 0;
    bool any_fastq = false;
    BufferPtr sequences, qualities, offsets, text;
    std::vector<EntryInfo> info;

    // Gathers `n` entries in two steps: prepare() sizes the buffers and places every entry,
    // then fill() copies entries [begin, end), which threads may share out. `lengths`, when
    // given, are the entries' header lengths, which are counted otherwise. Throws
    // std::bad_alloc.
    void prepare(const SeqEntry *entries, std::int32_t n,
                 const fast::HeaderLengths *lengths = nullptr);
    void fill(const SeqEntry *entries, std::int64_t begin, std::int64_t end);
    void gather(const SeqEntry *entries, std::int32_t n,
                const fast::HeaderLengths *lengths = nullptr) {
        prepare(entries, n, lengths);
        fill(entries, 0, n);
    }
    // An independent copy, its buffers just large enough.
    std::shared_ptr<Packed> copy() const;
    const std::int64_t *starts() const {
        return reinterpret_cast<const std::int64_t *>(offsets->data);
    }
    // Entry i as a SeqEntry pointing into the buffers, for the writer.
    SeqEntry entry(std::int64_t i) const;
    // Entry i as a new fastreads.Record, or nullptr with an exception set. `cache`, when given,
    // holds a reference to the last comment made, which the record shares when it is the same.
    PyObject *record(std::int64_t i, PyObject **cache = nullptr) const;
};
using PackedPtr = std::shared_ptr<Packed>;

class ReaderCore;

// A Python Batch: a view of one Packed, valid while its reader has not moved on (a copy always).
struct Batch {
    std::shared_ptr<ReaderCore> reader;  // null for a copy
    std::uint64_t generation = 0;
    PackedPtr packed;

    // Throws ValueError when the reader has read the next batch or was closed.
    void check() const;
};

void bindReader(py::module_ &module);
// fastreads.Index and the building of indexes (index.cpp).
void bindIndex(py::module_ &module);
// The stream of a reader: the whole file, or entries [start, stop) when start >= 0.
FastqStream *openReaderStream(const std::string &path, std::int64_t batch_bytes,
                              std::int32_t threads, std::int64_t start, std::int64_t stop);
void bindWriter(py::module_ &module);

}  // namespace fastreads

#endif
