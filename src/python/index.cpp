// fastreads' record index: building and loading an index, its split points and spans, and the
// streams of readers over a span of entries.
#include "fastreads.hpp"

namespace fastreads {

FastqStream *openReaderStream(const std::string &path, std::int64_t batch_bytes,
                              std::int32_t threads, std::int64_t start, std::int64_t stop) {
    if (start < 0) return openFastqStream(path.c_str(), batch_bytes, threads);
    return openFastqStreamRange(path.c_str(), start, stop, batch_bytes, threads);
}

namespace {

// A loaded or built index; raises FormatError when it cannot be used.
class Index {
  public:
    Index(const std::string &path, const py::object &index_path, bool build, std::int64_t spacing,
          std::int32_t threads) {
        if (spacing < 0) throw py::value_error("spacing must be 0 or more");
        if (threads < 0) throw py::value_error("threads must be 0 or more");
        std::string named;
        if (!index_path.is_none()) named = index_path.cast<std::string>();
        for (const std::string *p : {&path, static_cast<const std::string *>(&named)})
            if (p->find('\0') != std::string::npos)
                throw py::value_error("embedded null byte in path");
        const char *ip = index_path.is_none() ? nullptr : named.c_str();
        {
            py::gil_scoped_release release;
            index_ = build ? indexFastq(path.c_str(), ip, spacing, threads)
                           : loadFastqIndex(path.c_str(), ip);
        }
        if (!index_) throw std::bad_alloc();
        if (const char *why = fastqIndexError(index_)) {
            const std::string message = why;
            closeFastqIndex(index_);
            index_ = nullptr;
            throwFormatError(message);
        }
    }
    ~Index() { closeFastqIndex(index_); }
    Index(const Index &) = delete;
    Index &operator=(const Index &) = delete;

    std::int64_t entries() const { return fastqIndexEntries(index_); }
    std::int64_t textSize() const { return fastqIndexTextSize(index_); }

    py::list points() const {
        py::list out;
        for (std::int32_t i = 0; i < fastqIndexPoints(index_); ++i) {
            std::int64_t entry = 0, text = 0;
            fastqIndexPoint(index_, i, &entry, &text);
            out.append(py::make_tuple(entry, text));
        }
        return out;
    }

    py::list bounds(std::int32_t n) const {
        if (n < 1) throw py::value_error("the number of splits must be 1 or more");
        std::vector<std::int64_t> b(static_cast<std::size_t>(n) + 1);
        const std::int32_t k = fastqIndexSplits(index_, n, b.data());
        py::list out;
        for (std::int32_t i = 0; i <= std::max<std::int32_t>(k, 0); ++i) out.append(b[i]);
        return out;
    }

  private:
    FastqIndex *index_ = nullptr;
};

}  // namespace

void bindIndex(py::module_ &m) {
    py::class_<Index>(m, "_Index", "A record index; made by fastreads.Index and fastreads.index.")
        .def(py::init<const std::string &, const py::object &, bool, std::int64_t, std::int32_t>())
        .def_property_readonly("entries", &Index::entries)
        .def_property_readonly("text_size", &Index::textSize)
        .def("points", &Index::points)
        .def("bounds", &Index::bounds);
}

}  // namespace fastreads
