// Entry operations: quality count, the two copies and their blocks, case change.
#include <cstdlib>
#include <cstring>

#include "toolkit_support.hpp"

using toolkit::show;

namespace {

// An entry over caller-owned strings; quals given as numbers.
struct Owned {
    std::string name, bases, aux_text;
    std::vector<int8_t> quals;
    SeqEntry e{};
    Owned(std::string n, std::string b, std::vector<int8_t> q, int is_fasta)
        : name(std::move(n)), bases(std::move(b)), quals(std::move(q)) {
        e.name = name.data();
        e.bases = bases.data();
        e.quals = quals.empty() ? nullptr : quals.data();
        e.length = static_cast<int32_t>(bases.size());
        e.is_fasta = is_fasta;
        e.aux = 1234567890123;
    }
};

TEST(ReverseCompliment, ComplementsOnlyUpperCaseAcgtAndReversesQualities) {
    const struct {
        std::string bases;
        std::vector<int8_t> quals;
        std::string expected;
    } cases[] = {
        {"ACGTN", {}, "r|-|NACGT|-"},
        {"acgT", {}, "r|-|Agca|-"},
        {"AAC", {10, 20, 30}, "r|-|GTT|30,20,10"},
        {"G", {-5}, "r|-|C|-5"},
    };
    for (const auto &c : cases) {
        Owned src("r", c.bases, c.quals, c.quals.empty());
        SeqEntry dst{};
        dst.comment = const_cast<char *>("kept");
        dst.aux_text = const_cast<char *>("kept too");
        ASSERT_EQ(0, reverseCompliment(&src.e, &dst));
        dst.comment = nullptr;
        EXPECT_EQ(c.expected, show(dst));
        EXPECT_EQ(src.e.aux, dst.aux);
        EXPECT_EQ(src.e.is_fasta, dst.is_fasta);
        EXPECT_STREQ("kept too", dst.aux_text);
        EXPECT_EQ(dst.bases + 2 * dst.length * !c.quals.empty() + dst.length * c.quals.empty(),
                  dst.name);
        free(dst.bases);
    }
}

TEST(DuplicateRead, CopiesByKindAndLaysOutOneBlock) {
    // A FASTA entry drops the quality values it has; a FASTQ entry without them gets zeroed room.
    Owned fasta("f1", "ACGT", {1, 2, 3, 4}, 1);
    fasta.aux_text = "extra";
    fasta.e.aux_text = fasta.aux_text.data();
    Owned fastq("q1", "AC", {}, 0);
    Owned full("q2", "ACG", {40, 0, -3}, 0);
    const struct {
        Owned *src;
        std::string expected;
        const char *aux_text;
        int64_t name_at;
    } cases[] = {
        {&fasta, "f1|-|ACGT|-", "extra", 4},
        {&fastq, "q1|-|AC|0,0", nullptr, 4},
        {&full, "q2|-|ACG|40,0,-3", nullptr, 6},
    };
    for (const auto &c : cases) {
        SeqEntry dst{};
        dst.comment = const_cast<char *>("kept");
        dst.aux_text = const_cast<char *>("replaced");
        ASSERT_EQ(0, duplicateRead(&c.src->e, &dst));
        EXPECT_STREQ("kept", dst.comment);
        dst.comment = nullptr;
        EXPECT_EQ(c.expected, show(dst));
        EXPECT_EQ(c.src->e.aux, dst.aux);
        EXPECT_EQ(c.src->e.is_fasta, dst.is_fasta);
        EXPECT_EQ(dst.bases + c.name_at, dst.name);
        if (c.aux_text) {
            EXPECT_STREQ(c.aux_text, dst.aux_text);
            EXPECT_EQ(dst.name + std::strlen(dst.name) + 1, dst.aux_text);
        } else {
            EXPECT_EQ(nullptr, dst.aux_text);
        }
        free(dst.bases);
    }
}

TEST(DuplicateRead, AuxTextLongerThanTheSlackFits) {
    Owned src("n", "A", {}, 1);
    src.aux_text = std::string(5000, 'x');
    src.e.aux_text = src.aux_text.data();
    SeqEntry dst{};
    ASSERT_EQ(0, duplicateRead(&src.e, &dst));
    EXPECT_EQ(src.aux_text, dst.aux_text);
    free(dst.bases);
}

TEST(Copies, NothingToCopyReturnsOne) {
    char keep[] = "old";
    for (int32_t length : {0, -3}) {
        Owned src("r", "ACGT", {1, 2, 3, 4}, 0);
        src.e.length = length;
        SeqEntry dup{}, rc{};
        dup.bases = rc.bases = keep;
        dup.length = rc.length = 7;
        EXPECT_EQ(1, duplicateRead(&src.e, &dup));
        EXPECT_EQ(1, reverseCompliment(&src.e, &rc));
        EXPECT_EQ(nullptr, dup.bases);
        EXPECT_EQ(keep, rc.bases);
        EXPECT_EQ(0, dup.length);
        EXPECT_EQ(0, rc.length);
    }
    Owned no_bases("r", "ACGT", {1, 2, 3, 4}, 0);
    no_bases.e.bases = nullptr;
    SeqEntry dst{};
    EXPECT_EQ(1, duplicateRead(&no_bases.e, &dst));
    EXPECT_EQ(1, reverseCompliment(&no_bases.e, &dst));
}

TEST(Copies, AllocationFailurePrintsAndReturnsOne) {
#ifdef FAST_UNDER_SANITIZER
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
    for (auto copy : {duplicateRead, reverseCompliment}) {
        const std::string out = toolkit::underAddressLimit(64 << 20, [&] {
            // Two gigabytes of bases and values: never read, since the block cannot be had.
            char base = 'A';
            int8_t qual = 0;
            SeqEntry src{};
            src.name = const_cast<char *>("r");
            src.bases = &base;
            src.quals = &qual;
            src.length = 1 << 30;
            SeqEntry dst{};
            dst.bases = &base;
            if (copy(&src, &dst) != 1 || dst.bases != nullptr) _exit(4);
        });
        EXPECT_EQ("ERROR reverseCompliment: malloc\n", out);
    }
#endif
}

TEST(CountQthresh, SignedThresholdOverValues) {
    Owned fastq("r", "ACG", {0, 20, 30}, 0);
    Owned high("r", "A", {static_cast<int8_t>(200)}, 0);
    Owned fasta("f", "ACGT", {}, 1);
    Owned no_quals("r", "ACGT", {}, 0);
    const struct {
        SeqEntry *e;
        int32_t threshold, expected;
    } cases[] = {
        {&fastq.e, 20, 2},   {&fastq.e, 31, 0},    {&fastq.e, 0, 3},     {&high.e, -56, 1},
        {&high.e, -55, 0},   {&fasta.e, 1000, 4},  {&fasta.e, -1000, 4}, {&no_quals.e, 0, 0},
        {&fastq.e, 1000, 0}, {&fastq.e, -1000, 3}, {&fastq.e, -128, 3},  {&high.e, -129, 1},
    };
    for (const auto &c : cases) EXPECT_EQ(c.expected, countQthresh(c.e, c.threshold));
}

TEST(CaseChange, ChangesOnlyTheBasesOfTheFirstCountEntries) {
    Owned a("Name", "acGT-n", {1, 2, 3, 4, 5, 6}, 0), b("x", "aC", {}, 1);
    SeqEntry entries[2] = {a.e, b.e};
    fastaUC(entries, 0);
    EXPECT_EQ("acGT-n", a.bases);
    fastaUC(entries, 1);
    EXPECT_EQ("ACGT-N", a.bases);
    EXPECT_EQ("aC", b.bases);
    fastaLC(entries, 2);
    EXPECT_EQ("acgt-n", a.bases);
    EXPECT_EQ("ac", b.bases);
    EXPECT_EQ("Name", a.name);
    EXPECT_EQ((std::vector<int8_t>{1, 2, 3, 4, 5, 6}), a.quals);
}

}  // namespace
