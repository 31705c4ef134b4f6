// fastreads.Record and the iterator that hands records out, written against the C API: a record
// is built for every entry read, so it must cost little more than its four strings. Also the
// gathering of a batch, which builds the records' strings from it.
#include "fastreads.hpp"

#include <structmember.h>

#include <algorithm>
#include <new>

namespace fastreads {

PyTypeObject *record_type = nullptr;
static PyTypeObject *iterator_type = nullptr;

// ---------------------------------------------------------------------------------------------
// Record

static PyObject *newRecord(PyObject *name, PyObject *comment, PyObject *sequence,
                           PyObject *qualities) {
    auto *record = PyObject_New(RecordObject, record_type);
    if (record == nullptr) return nullptr;
    record->name = name;
    record->comment = comment;
    record->sequence = sequence;
    record->qualities = qualities;
    return reinterpret_cast<PyObject *>(record);
}

static PyObject *recordNew(PyTypeObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"name", "sequence", "qualities", "comment", nullptr};
    PyObject *name, *sequence, *qualities = Py_None, *comment = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "UU|OO:Record", const_cast<char **>(keywords),
                                     &name, &sequence, &qualities, &comment))
        return nullptr;
    if (qualities != Py_None && !PyUnicode_Check(qualities)) {
        PyErr_SetString(PyExc_TypeError, "Record: qualities must be a str or None");
        return nullptr;
    }
    if (comment != Py_None && !PyUnicode_Check(comment)) {
        PyErr_SetString(PyExc_TypeError, "Record: comment must be a str or None");
        return nullptr;
    }
    if (qualities != Py_None && PyUnicode_GET_LENGTH(qualities) != PyUnicode_GET_LENGTH(sequence)) {
        PyErr_Format(PyExc_ValueError, "Record: %zd qualities for %zd bases",
                     PyUnicode_GET_LENGTH(qualities), PyUnicode_GET_LENGTH(sequence));
        return nullptr;
    }
    Py_INCREF(name);
    Py_INCREF(comment);
    Py_INCREF(sequence);
    Py_INCREF(qualities);
    return newRecord(name, comment, sequence, qualities);
}

static void recordDealloc(PyObject *self) {
    auto *record = reinterpret_cast<RecordObject *>(self);
    Py_DECREF(record->name);
    Py_DECREF(record->comment);
    Py_DECREF(record->sequence);
    Py_DECREF(record->qualities);
    PyTypeObject *type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

static PyObject *recordRepr(PyObject *self) {
    auto *r = reinterpret_cast<RecordObject *>(self);
    return PyUnicode_FromFormat("Record(name=%R, sequence=%R, qualities=%R, comment=%R)", r->name,
                                r->sequence, r->qualities, r->comment);
}

static PyObject *recordCompare(PyObject *self, PyObject *other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != record_type) Py_RETURN_NOTIMPLEMENTED;
    auto *a = reinterpret_cast<RecordObject *>(self);
    auto *b = reinterpret_cast<RecordObject *>(other);
    PyObject *left[] = {a->name, a->sequence, a->qualities, a->comment};
    PyObject *right[] = {b->name, b->sequence, b->qualities, b->comment};
    bool equal = true;
    for (int i = 0; i < 4 && equal; ++i) {
        const int same = PyObject_RichCompareBool(left[i], right[i], Py_EQ);
        if (same < 0) return nullptr;
        equal = same == 1;
    }
    return PyBool_FromLong(equal == (op == Py_EQ));
}

static PyObject *recordReduce(PyObject *self, PyObject *) {
    auto *r = reinterpret_cast<RecordObject *>(self);
    return Py_BuildValue("O(OOOO)", Py_TYPE(self), r->name, r->sequence, r->qualities, r->comment);
}

static PyObject *recordLength(PyObject *self, void *) {
    return PyLong_FromSsize_t(
        PyUnicode_GET_LENGTH(reinterpret_cast<RecordObject *>(self)->sequence));
}

static PyMemberDef record_members[] = {
    {"name", T_OBJECT_EX, offsetof(RecordObject, name), READONLY,
     "The header's text after the marker up to the first blank or tab."},
    {"comment", T_OBJECT_EX, offsetof(RecordObject, comment), READONLY,
     "The rest of the header line, or None when it has none."},
    {"sequence", T_OBJECT_EX, offsetof(RecordObject, sequence), READONLY, "The bases."},
    {"qualities", T_OBJECT_EX, offsetof(RecordObject, qualities), READONLY,
     "The quality letters, Phred+33, one a base; None for a FASTA entry."},
    {nullptr, 0, 0, 0, nullptr}};

static PyMethodDef record_methods[] = {{"__reduce__", recordReduce, METH_NOARGS, nullptr},
                                       {nullptr, nullptr, 0, nullptr}};

static PyGetSetDef record_getset[] = {
    {"length", recordLength, nullptr, "The number of bases.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

static const char record_doc[] =
    "Record(name, sequence, qualities=None, comment=None)\n--\n\n"
    "One FASTQ or FASTA entry. Every field is a str read as latin-1, so that each byte of the\n"
    "file is one character and any byte round-trips. qualities holds the Phred+33 letters, as\n"
    "many as bases, or None for a FASTA entry; comment is None when the header has none.\n"
    "Records are equal when all four fields are.";

static PyType_Slot record_slots[] = {{Py_tp_new, reinterpret_cast<void *>(recordNew)},
                                     {Py_tp_dealloc, reinterpret_cast<void *>(recordDealloc)},
                                     {Py_tp_repr, reinterpret_cast<void *>(recordRepr)},
                                     {Py_tp_richcompare, reinterpret_cast<void *>(recordCompare)},
                                     {Py_tp_members, record_members},
                                     {Py_tp_methods, record_methods},
                                     {Py_tp_getset, record_getset},
                                     {Py_tp_doc, const_cast<char *>(record_doc)},
                                     {0, nullptr}};

static PyType_Spec record_spec = {"fastreads.Record", sizeof(RecordObject), 0, Py_TPFLAGS_DEFAULT,
                                  record_slots};

// ---------------------------------------------------------------------------------------------
// The iterator

struct IteratorObject {
    PyObject_HEAD PyObject *owner;
    RecordSource *source;
    bool owned;
};

py::object makeRecordIterator(py::handle owner, RecordSource *source, bool owned) {
    auto *it = PyObject_New(IteratorObject, iterator_type);
    if (it == nullptr) {
        if (owned) delete source;
        throw py::error_already_set();
    }
    it->owner = owner.inc_ref().ptr();
    it->source = source;
    it->owned = owned;
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject *>(it));
}

static PyObject *iteratorNext(PyObject *self) {
    return reinterpret_cast<IteratorObject *>(self)->source->nextRecord();
}

static void iteratorDealloc(PyObject *self) {
    auto *it = reinterpret_cast<IteratorObject *>(self);
    if (it->owned) delete it->source;
    Py_DECREF(it->owner);
    PyTypeObject *type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

static PyType_Slot iterator_slots[] = {{Py_tp_iter, reinterpret_cast<void *>(PyObject_SelfIter)},
                                       {Py_tp_iternext, reinterpret_cast<void *>(iteratorNext)},
                                       {Py_tp_dealloc, reinterpret_cast<void *>(iteratorDealloc)},
                                       {0, nullptr}};

static PyType_Spec iterator_spec = {"fastreads._RecordIterator", sizeof(IteratorObject), 0,
                                    Py_TPFLAGS_DEFAULT, iterator_slots};

void initRecordTypes(py::module_ &module) {
    record_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&record_spec));
    if (record_type == nullptr) throw py::error_already_set();
    iterator_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&iterator_spec));
    if (iterator_type == nullptr) throw py::error_already_set();
    // Pickled and shown as fastreads.Record, where __init__ puts it.
    PyObject_SetAttrString(reinterpret_cast<PyObject *>(record_type), "__module__",
                           py::str("fastreads").ptr());
    module.add_object("Record", py::handle(reinterpret_cast<PyObject *>(record_type)));
}

// ---------------------------------------------------------------------------------------------
// Batches

Buffer::Buffer(std::size_t bytes) : data(static_cast<char *>(std::malloc(bytes ? bytes : 1))) {
    if (data == nullptr) throw std::bad_alloc();
    capacity = bytes;
}

// A buffer of at least `bytes`: the one there, or a new one a quarter larger than asked.
static char *reserve(BufferPtr &buffer, std::size_t bytes) {
    if (!buffer || buffer->capacity < bytes) buffer = std::make_shared<Buffer>(bytes + bytes / 4);
    return buffer->data;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

static inline std::uint64_t load(const void *p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

static inline void store(void *p, std::uint64_t word) {
    std::memcpy(p, &word, 8);
}

// Eight quality values + 33 each, byte by byte without carries: their letters.
static inline std::uint64_t letters(std::uint64_t values) {
    return ((values & ~kHighBits) + 0x2121212121212121ULL) ^ (values & kHighBits);
}

// Copies n bytes a word at a time and returns 0 when they are all ASCII, 128 when not; in one
// pass over the bytes. The bytes after the last whole word are copied with a word ending at n.
static inline unsigned char copyBytes(char *to, const char *from, std::size_t n) {
    std::uint64_t all = 0;
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const std::uint64_t word = load(from + k);
        store(to + k, word);
        all |= word;
    }
    if (k < n && n >= 8) {
        const std::uint64_t word = load(from + n - 8);
        store(to + n - 8, word);
        all |= word;
    } else {
        for (; k < n; ++k) {
            to[k] = from[k];
            all |= static_cast<unsigned char>(from[k]);
        }
    }
    return (all & kHighBits) ? 128 : 0;
}

// The same for quality values, whose letters are the values + 33.
static inline unsigned char copyQualities(std::int8_t *to, const std::int8_t *from, std::size_t n) {
    std::uint64_t all = 0;
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const std::uint64_t word = load(from + k);
        store(to + k, word);
        all |= letters(word);
    }
    if (k < n && n >= 8) {
        const std::uint64_t word = load(from + n - 8);
        store(to + n - 8, word);
        all |= letters(word);
    } else {
        for (; k < n; ++k) {
            to[k] = from[k];
            all |= static_cast<unsigned char>(from[k] + 33);
        }
    }
    return (all & kHighBits) ? 128 : 0;
}

void Packed::prepare(const SeqEntry *entries, std::int32_t n, const fast::HeaderLengths *lengths) {
    info.resize(static_cast<std::size_t>(n));
    std::size_t bases = 0, text_bytes = 0;
    any_fastq = false;
    for (std::int32_t i = 0; i < n; ++i) {
        const SeqEntry &e = entries[i];
        EntryInfo &d = info[static_cast<std::size_t>(i)];
        if (lengths) {
            d.name_length = lengths[i].name;
            d.comment_length = lengths[i].comment;
        } else {
            d.name_length = static_cast<std::int32_t>(std::strlen(e.name));
            d.comment_length = e.comment ? static_cast<std::int32_t>(std::strlen(e.comment)) : 0;
        }
        d.flags = (e.is_fasta ? kFasta : 0) | (e.comment ? kHasComment : 0);
        d.name = static_cast<std::int64_t>(text_bytes);
        d.comment = d.name + d.name_length + 1;
        any_fastq |= !e.is_fasta;
        bases += static_cast<std::size_t>(std::max(e.length, 0));
        text_bytes += static_cast<std::size_t>(d.name_length) + d.comment_length + 2;
    }
    reserve(sequences, bases);
    reserve(qualities, any_fastq ? bases : 0);
    auto *start = reinterpret_cast<std::int64_t *>(
        reserve(offsets, (static_cast<std::size_t>(n) + 1) * sizeof(std::int64_t)));
    reserve(text, text_bytes);
    std::int64_t at = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        start[i] = at;
        at += std::max(entries[i].length, 0);
    }
    start[n] = at;
    count = n;
}

void Packed::fill(const SeqEntry *entries, std::int64_t begin, std::int64_t end) {
    const std::int64_t *start = starts();
    auto *qual = reinterpret_cast<std::int8_t *>(qualities->data);
    for (std::int64_t i = begin; i < end; ++i) {
        const SeqEntry &e = entries[i];
        EntryInfo &d = info[static_cast<std::size_t>(i)];
        const std::int64_t at = start[i];
        const auto length = static_cast<std::size_t>(start[i + 1] - at);
        char *chars = text->data;
        if (copyBytes(chars + d.name, e.name, static_cast<std::size_t>(d.name_length) + 1) < 128)
            d.flags |= kNameAscii;
        if (e.comment && copyBytes(chars + d.comment, e.comment,
                                   static_cast<std::size_t>(d.comment_length)) < 128)
            d.flags |= kCommentAscii;
        chars[d.comment + d.comment_length] = '\0';
        if (copyBytes(sequences->data + at, e.bases, length) < 128) d.flags |= kSequenceAscii;
        if (any_fastq) {
            if (e.is_fasta || e.quals == nullptr)
                std::memset(qual + at, -1, length);
            else if (copyQualities(qual + at, e.quals, length) < 128)
                d.flags |= kQualitiesAscii;
        }
    }
}

PackedPtr Packed::copy() const {
    auto to = std::make_shared<Packed>();
    const std::int64_t bases = starts()[count];
    const std::size_t text_bytes =
        count ? static_cast<std::size_t>(info.back().comment + info.back().comment_length + 1) : 0;
    std::memcpy(reserve(to->sequences, bases), sequences->data, static_cast<std::size_t>(bases));
    std::memcpy(reserve(to->qualities, any_fastq ? bases : 0), qualities->data,
                any_fastq ? static_cast<std::size_t>(bases) : 0);
    const std::size_t offset_bytes = (static_cast<std::size_t>(count) + 1) * sizeof(std::int64_t);
    std::memcpy(reserve(to->offsets, offset_bytes), offsets->data, offset_bytes);
    std::memcpy(reserve(to->text, text_bytes), text->data, text_bytes);
    to->info = info;
    to->count = count;
    to->any_fastq = any_fastq;
    return to;
}

SeqEntry Packed::entry(std::int64_t i) const {
    const EntryInfo &d = info[static_cast<std::size_t>(i)];
    const std::int64_t at = starts()[i];
    SeqEntry e{};
    e.name = text->data + d.name;
    e.comment = (d.flags & kHasComment) ? text->data + d.comment : nullptr;
    e.length = static_cast<std::int32_t>(starts()[i + 1] - at);
    e.bases = sequences->data + at;
    e.is_fasta = (d.flags & kFasta) ? 1 : 0;
    e.quals = e.is_fasta ? nullptr : reinterpret_cast<std::int8_t *>(qualities->data) + at;
    return e;
}

PyObject *Packed::record(std::int64_t i, PyObject **cache) const {
    const EntryInfo &d = info[static_cast<std::size_t>(i)];
    const std::int64_t at = starts()[i];
    const auto length = static_cast<std::size_t>(starts()[i + 1] - at);
    PyObject *name =
        latin1(text->data + d.name, static_cast<std::size_t>(d.name_length), d.flags & kNameAscii);
    PyObject *comment = Py_None;
    if (d.flags & kHasComment) {
        const char *bytes = text->data + d.comment;
        const auto n = static_cast<std::size_t>(d.comment_length);
        PyObject *last = cache ? *cache : nullptr;
        // Reads of one run often share their comment: the same bytes give the same str.
        if (last != nullptr && static_cast<std::size_t>(PyUnicode_GET_LENGTH(last)) == n &&
            std::memcmp(PyUnicode_1BYTE_DATA(last), bytes, n) == 0) {
            comment = last;
            Py_INCREF(comment);
        } else {
            comment = latin1(bytes, n, d.flags & kCommentAscii);
            if (cache != nullptr && comment != nullptr) {
                Py_XDECREF(*cache);
                Py_INCREF(comment);
                *cache = comment;
            }
        }
    } else {
        Py_INCREF(comment);
    }
    PyObject *sequence = latin1(sequences->data + at, length, d.flags & kSequenceAscii);
    PyObject *letters = Py_None;
    if (d.flags & kFasta) {
        Py_INCREF(letters);
    } else {
        letters =
            PyUnicode_New(static_cast<Py_ssize_t>(length), d.flags & kQualitiesAscii ? 127 : 255);
        if (letters != nullptr) {
            Py_UCS1 *to = PyUnicode_1BYTE_DATA(letters);
            const auto *from = reinterpret_cast<const std::int8_t *>(qualities->data) + at;
            for (std::size_t k = 0; k < length; ++k) to[k] = static_cast<Py_UCS1>(from[k] + 33);
        }
    }
    PyObject *record = nullptr;
    if (name && comment && sequence && letters)
        record = newRecord(name, comment, sequence, letters);
    if (record == nullptr) {
        Py_XDECREF(name);
        Py_XDECREF(comment);
        Py_XDECREF(sequence);
        Py_XDECREF(letters);
    }
    return record;
}

}  // namespace fastreads
