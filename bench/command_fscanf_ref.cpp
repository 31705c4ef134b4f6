// The benchmark's reference: the overlap rule as a plain fscanf/printf loop, one pass.
#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    std::FILE *f = std::fopen(argv[1], "r");
    if (f == nullptr) return 1;
    static char name[1 << 16];
    int c[9] = {};
    int prev_group = 0;
    int prev_end = 0;
    for (long long k = 0; std::fscanf(f, "%65535s %d %d %d %d %d %d %d %d %d", name, &c[0], &c[1],
                                      &c[2], &c[3], &c[4], &c[5], &c[6], &c[7], &c[8]) != EOF;
         ++k) {
        if (k > 0 && !(c[1] == prev_group && c[5] < prev_end))
            std::printf("%s %d %d %d %d %d %d %d %d %d\n", name, c[0], c[1], c[2], c[3], c[4], c[5],
                        c[6], c[7], c[8]);
        prev_group = c[1];
        prev_end = c[6];
    }
    std::fclose(f);
    return 0;
}
