#include <cstdio>

int main(int argc, char **argv) {
    if (argc < 2) {
        std::printf(
            "Usage: %s <merge_link_file> <input_ref_fastq_file> <input_merge_fastq_file> "
            "<output_fastq_file\n",
            argv[0]);
        return 1;
    }
    return 0;
}
