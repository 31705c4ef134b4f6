// Writes a merge-link table for the command's benchmark: `lines` records in groups of 1 to 40
// links whose spans overlap about half the time, about 60 bytes a line.
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <lines>\n", argv[0]);
        return 2;
    }
    long long lines = std::atoll(argv[1]);
    std::mt19937_64 rng(20240601);
    long long group = 1000000;
    long long left = 0;
    long long start = 0;
    for (long long i = 0; i < lines; ++i) {
        if (left-- <= 0) {
            ++group;
            left = static_cast<long long>(rng() % 40);
            start = static_cast<long long>(rng() % 5000);
        }
        long long length = 80 + static_cast<long long>(rng() % 420);
        long long reflen = 100000 + static_cast<long long>(rng() % 900000);
        std::printf("read%08lld/1 %lld %lld %d %lld 1 %lld %lld %d %lld\n", i, i, group,
                    static_cast<int>(rng() % 2), length, start, start + length,
                    static_cast<int>(rng() % 61), reflen);
        // The next link starts inside this one or just after it.
        start += static_cast<long long>(rng() % (length + length / 2));
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
