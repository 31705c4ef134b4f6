#include "command_reference.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "byte_reader.hpp"
#include "input/input.hpp"
#include "link_filter.hpp"
#include "record_scanner.hpp"

namespace command_reference {

namespace {

constexpr const char *kRecordFormat = "%s %d %d %d %d %d %d %d %d %d";
// The same reading with 64-bit stores and the consumed count after each number: it tells the
// true value of a number that the 32-bit store would wrap, and where that number lay.
constexpr const char *kWideFormat =
    "%s %lld%n %lld%n %lld%n %lld%n %lld%n %lld%n %lld%n %lld%n %lld%n";

// fscanf over an in-memory copy of the bytes, one record per call.
class FscanfReader {
  public:
    explicit FscanfReader(const std::string &bytes)
        : bytes_(bytes), narrow_(open()), wide_(open()), name_(bytes.size() + 2, ' ') {}
    ~FscanfReader() {
        std::fclose(narrow_);
        std::fclose(wide_);
    }
    FscanfReader(const FscanfReader &) = delete;
    FscanfReader &operator=(const FscanfReader &) = delete;

    ScanStep next(const std::int32_t (&start)[kColumns]) {
        ScanStep s;
        std::copy(start, start + kColumns, s.cols);
        long long begin = std::ftell(wide_);
        std::int32_t *c = s.cols;
        s.fields = std::fscanf(narrow_, kRecordFormat, name_.data(), &c[0], &c[1], &c[2], &c[3],
                               &c[4], &c[5], &c[6], &c[7], &c[8]);
        s.resume = std::ftell(narrow_);
        // fscanf never stores a blank in a name and the buffer is all blanks before the call,
        // so the first blank left marks the name's end even when it holds NUL bytes.
        auto stored = std::find(name_.begin(), name_.end(), ' ');
        if (s.fields >= 1)
            s.name.assign(name_.data(), static_cast<std::size_t>(stored - name_.begin() - 1));
        long long w[kColumns];
        int n[kColumns];
        int wide_fields = std::fscanf(wide_, kWideFormat, name_.data(), &w[0], &n[0], &w[1], &n[1],
                                      &w[2], &n[2], &w[3], &n[3], &w[4], &n[4], &w[5], &n[5], &w[6],
                                      &n[6], &w[7], &n[7], &w[8], &n[8]);
        if (wide_fields != s.fields || std::ftell(wide_) != s.resume) s.fields = -99;
        std::fill(name_.begin(), stored, ' ');
        for (int i = 0; i + 1 < s.fields; ++i) {
            if (w[i] >= INT32_MIN && w[i] <= INT32_MAX) continue;
            s.wide_columns |= 1u << i;
            if (s.range_column != 0) continue;
            s.range_column = i + 1;
            s.range_line = 1 + static_cast<unsigned long long>(
                                   std::count(bytes_.begin(), bytes_.begin() + begin + n[i], '\n'));
        }
        return s;
    }

  private:
    std::FILE *open() {
        // A zero-sized stream needs a valid buffer all the same.
        return fmemopen(const_cast<char *>(bytes_.empty() ? "" : bytes_.data()), bytes_.size(),
                        "r");
    }

    const std::string &bytes_;
    std::FILE *narrow_;
    std::FILE *wide_;
    std::vector<char> name_;
};

std::string printable(const std::string &bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c >= 0x21 && c < 0x7f ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    return out;
}

std::string describe(const ScanStep &s) {
    std::string d = "fields " + std::to_string(s.fields) + " name '" + printable(s.name) + "'";
    for (std::int32_t c : s.cols) d += " " + std::to_string(c);
    d += " range " + std::to_string(s.range_column) + "@" + std::to_string(s.range_line) +
         " resume " + std::to_string(s.resume);
    return d;
}

bool sameStep(const ScanStep &a, const ScanStep &b) {
    if (a.fields != b.fields || a.resume != b.resume || a.range_column != b.range_column ||
        a.range_line != b.range_line || (a.fields >= 1 && a.name != b.name))
        return false;
    // A value outside int32 has no defined 32-bit store; the verdict above covers it.
    for (int i = 0; i < kColumns; ++i)
        if (!(a.wide_columns & 1u << i) && a.cols[i] != b.cols[i]) return false;
    return true;
}

}  // namespace

clean_replace::ReadFunction readInWindows(const std::string &bytes, std::size_t window) {
    return
        [&bytes, window, at = std::size_t{0}](char *buf, std::size_t size, const char *&) mutable {
            std::size_t n = std::min({size, window, bytes.size() - at});
            std::memcpy(buf, bytes.data() + at, n);
            at += n;
            return static_cast<long long>(n);
        };
}

std::string compareScans(const std::string &bytes, std::size_t window) {
    FscanfReader ref(bytes);
    clean_replace::ByteReader in(readInWindows(bytes, window), window);
    clean_replace::RecordScanner scanner(in);
    clean_replace::LinkRecord rec;
    for (int k = 0;; ++k) {
        std::int32_t start[kColumns];
        for (int i = 0; i < kColumns; ++i) start[i] = -1000 * k - i;
        ScanStep want = ref.next(start);
        ScanStep got;
        std::copy(start, start + kColumns, rec.cols);
        clean_replace::ScanResult r = scanner.scan(rec);
        got.fields = r.fields;
        got.name = std::string(rec.name);
        std::copy(rec.cols, rec.cols + kColumns, got.cols);
        got.range_column = r.range_column;
        got.range_line = r.range_column != 0 ? r.range_line : 0;
        got.resume = static_cast<long long>(in.consumed());
        if (!sameStep(want, got))
            return "record " + std::to_string(k) + ": fscanf " + describe(want) + "\n scanner " +
                   describe(got);
        if (want.fields < 0) return "";
    }
}

FilterRun referenceFilter(const std::string &bytes) {
    FilterRun run;
    FscanfReader ref(bytes);
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    std::int32_t cols[kColumns] = {};
    std::int32_t prev_group = 0;
    std::int32_t prev_end = 0;
    for (int k = 0;; ++k) {
        for (int i = 0; i < kColumns; ++i)
            if (i != 7) cols[i] = 0;
        ScanStep s = ref.next(cols);
        if (s.fields < 0) break;
        if (s.range_column != 0) {
            run.range_column = s.range_column;
            run.range_line = s.range_line;
            break;
        }
        std::copy(s.cols, s.cols + kColumns, cols);
        if (k > 0 && !(cols[1] == prev_group && cols[5] < prev_end))
            std::fprintf(out, "%s %d %d %d %d %d %d %d %d %d\n", s.name.c_str(), cols[0], cols[1],
                         cols[2], cols[3], cols[4], cols[5], cols[6], cols[7], cols[8]);
        prev_group = cols[1];
        prev_end = cols[6];
    }
    std::fclose(out);
    run.output.assign(text, size);
    std::free(text);
    return run;
}

namespace {

// Whether the bytes start with the magic of a compressed format, read or refused by the build.
bool compressed(const std::string &bytes) {
    bool undecided = false;
    return fast::formatOf(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                          undecided) != nullptr;
}

// The bytes as a file of their own, named through /proc, for the input layer to open.
class MemoryFile {
  public:
    explicit MemoryFile(const std::string &bytes) : fd_(memfd_create("table", 0)) {
        if (fd_ < 0 || (!bytes.empty() && pwrite(fd_, bytes.data(), bytes.size(), 0) !=
                                              static_cast<ssize_t>(bytes.size())))
            std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;
    const char *path() const { return path_.c_str(); }

  private:
    int fd_;
    std::string path_;
};

// The text of compressed bytes as a plain read loop of the input layer gives it, up to a fault; the
// fault's reason, or empty.
std::string inflate(const std::string &bytes, std::string &text) {
    MemoryFile file(bytes);
    fast::Input input;
    if (!input.open(file.path())) std::abort();
    char buf[1 << 16];
    for (std::int64_t got; (got = input.read(buf, sizeof buf)) != 0;) {
        if (got < 0) return input.why();
        text.append(buf, static_cast<std::size_t>(got));
    }
    return "";
}

FilterRun filterPass(clean_replace::ByteReader &in) {
    FilterRun run;
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    clean_replace::FilterOutcome outcome;
    {
        clean_replace::RecordWriter writer(out, 1);
        outcome = clean_replace::filterLinks(in, writer);
        writer.flush();
    }
    std::fclose(out);
    run.output.assign(text, size);
    std::free(text);
    if (outcome.end == clean_replace::FilterEnd::kOutOfRange) {
        run.range_column = outcome.column;
        run.range_line = outcome.line;
    }
    if (outcome.end == clean_replace::FilterEnd::kReadError) run.read_error = outcome.why;
    return run;
}

}  // namespace

FilterRun commandFilter(const std::string &bytes, std::size_t window) {
    if (compressed(bytes)) {
        MemoryFile file(bytes);
        fast::Input input;
        if (!input.open(file.path()) || !input.compressed()) std::abort();
        // The command's read-ahead, in blocks small enough that the text crosses their ends
        // (blocks of the command's size would cost each input far more). Its helper thread costs
        // an input more under the sanitizers than all the rest: one input in four has it, the
        // others fill the same blocks in this thread as they are taken.
        fast::Input::AheadOptions ahead;
        ahead.slot = window < 1024 ? 16 * window : 4096;
        ahead.helpers = window % 4 == 0 ? 1 : 0;
        if (!input.readAhead(ahead)) std::abort();
        clean_replace::ByteReader in(clean_replace::inputReader(input), window);
        return filterPass(in);
    }
    clean_replace::ByteReader counter(readInWindows(bytes, window), window);
    clean_replace::LinkTable table;
    if (table.allocate(clean_replace::countTableLines(counter)) != nullptr) std::abort();
    clean_replace::ByteReader in(readInWindows(bytes, window), window);
    return filterPass(in);
}

std::string compareFilters(const std::string &bytes, std::size_t window) {
    std::string text;
    std::string fault = compressed(bytes) ? inflate(bytes, text) : "";
    FilterRun want = referenceFilter(compressed(bytes) ? text : bytes);
    FilterRun got = commandFilter(bytes, window);
    if (!fault.empty()) {
        // The text before the fault has no defined end to compare with; the command must stop
        // on the fault, or on an out-of-range value before it.
        if (got.read_error == fault || got.range_column != 0) return "";
        return "inflating failed (" + fault + "), the command read on to: " +
               (got.read_error.empty() ? "the end" : got.read_error);
    }
    if (want.output == got.output && want.range_column == got.range_column &&
        want.range_line == got.range_line && got.read_error.empty())
        return "";
    return "reference (range " + std::to_string(want.range_column) + "@" +
           std::to_string(want.range_line) + "): " + printable(want.output) + "\ncommand (range " +
           std::to_string(got.range_column) + "@" + std::to_string(got.range_line) +
           ", read error '" + got.read_error + "'): " + printable(got.output);
}

void checkFuzzInput(const unsigned char *data, std::size_t size,
                    std::string (*compare)(const std::string &, std::size_t)) {
    if (size == 0) return;
    std::size_t window = data[0] < 192 ? 1 + data[0] % 64 : std::size_t{1} << 16;
    std::string diff =
        compare(std::string(reinterpret_cast<const char *>(data) + 1, size - 1), window);
    if (diff.empty()) return;
    std::fprintf(stderr, "window %zu\n%s\n", window, diff.c_str());
    std::abort();
}

}  // namespace command_reference
